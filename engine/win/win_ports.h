// The Windows implementations of the installation engine's ports: the package and the target files
// over the kernel's file calls, names in the ANSI code page, local time through the system's time
// zone, the shell, the version query, folder creation, free space and shell links over COM.
// Every object may be used from any one thread; none of them throws.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/engine.h"
#include "core/folders.h"
#include "core/platform.h"
#include "core/ports.h"
#include "core/shortcuts.h"

namespace quentaro {

// Text crosses from the core's char16_t to the API's wchar_t here: both are UTF-16 code units on
// Windows, so the conversion copies unit by unit.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t is a UTF-16 code unit on Windows");

inline std::wstring ToWide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}
inline std::u16string ToU16(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

// CreateFileW(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), read with ReadFile and positioned with
// SetFilePointerEx; GetFileInformationByHandle for the file's identity.
class WinPackageStore : public PackageStore {
public:
    std::unique_ptr<PackageFile> Open(const std::u16string& name) override;
};

// Each file is written under a temporary name "~qsXXXXXXXX.tmp" (CreateFileW with GENERIC_WRITE, no
// sharing, CREATE_NEW) in a staging folder "~qsXXXXXXXX" that this object makes inside the file's
// folder on first use (or, where it cannot, in the folder itself), gets its times (SetFileTime), and
// only then takes its name with MoveFileExW; DeleteFileW removes it on any failure, and the staging
// folders go when this object does. An old file of the name is checked (opened for writing without
// sharing, left unchanged) and replaced only when the rename finds one.
class WinTargetFileSystem : public TargetFileSystem {
public:
    WinTargetFileSystem();
    ~WinTargetFileSystem() override;
    WinTargetFileSystem(const WinTargetFileSystem&) = delete;
    WinTargetFileSystem& operator=(const WinTargetFileSystem&) = delete;

    std::unique_ptr<TargetFile> Create(const std::u16string& path) override;

private:
    struct Staging {
        std::wstring parent;  // the folder, with its backslash
        std::wstring folder;  // its staging folder with a backslash; empty when it could not be made
    };
    // The staging folder of `folder` (made on the first call for it), or empty.
    const std::wstring& StagingFolderFor(const std::wstring& folder);

    DWORD m_seed;
    DWORD m_count = 0;
    std::vector<Staging> m_staging;
};

// FILETIME (100 ns units since 1601-01-01 UTC) of a count of seconds since 1970-01-01 UTC; false
// for a time before 1601.
bool FileTimeOfUnixSeconds(std::int64_t seconds, FILETIME& fileTime);

// MultiByteToWideChar(CP_ACP) into 32 characters. Bytes that are not valid in the code page are
// decoded leniently (flags 0), as the system has always decoded these names: they become the code
// page's default character, and the name then has to pass the file-name checks like any other.
class WinNameDecoder : public NameDecoder {
public:
    std::u16string DecodeAnsi(const std::uint8_t* bytes, std::size_t count) override;
};

// Local time of this computer as the system defines it (GetTimeZoneInformation and
// SystemTimeToTzSpecificLocalTime, which exist from Windows 2000 on), not the C runtime's reading
// of a TZ variable. Daylight saving time is decided by the zone's rule for the given date: the UTC
// time whose local time is the given one. In the hour that is repeated when daylight saving time
// ends, the daylight reading is taken; a time in the hour that is skipped when it begins is read
// with the standard offset.
class WinLocalClock : public LocalClock {
public:
    bool LocalToUtc(const LocalTime& local, std::int64_t& utcSeconds) override;
};

// ShellExecuteExW(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI, default verb, no owner, SW_SHOW),
// then WaitForSingleObject(INFINITE) on the process and CloseHandle.
class WinShell : public Shell {
public:
    bool RunAndWait(const std::u16string& program, const std::u16string& parameters,
                    const std::u16string& folder) override;
};

// GetVersionExW with an OSVERSIONINFOW of 276 bytes.
VersionReport QueryVersionReport();
// IsWow64Process, looked up by name in "kernel32" at run time.
std::int32_t QueryIsWow64();
// The PlatformKind of the running Windows.
std::int32_t QueryPlatformKind();
// GetSystemDirectoryW; empty when it fails.
std::u16string QuerySystemFolder();
// GetDiskFreeSpaceExW: the total number of free bytes of the volume of `root`.
std::optional<std::uint64_t> QueryTotalFreeBytes(std::u16string_view root);

// FindFirstFileW, GetLogicalDrives, CreateDirectoryW and SetFileAttributesW for the destination
// folder's creation.
class WinFolderPort : public FolderPort {
public:
    bool IsExistingFolder(std::u16string_view path) override;
    std::uint32_t GetLogicalDriveMask() override;
    CreateFolderResult CreateFolder(std::u16string_view path) override;
    void SetNormalAttributes(std::u16string_view path) override;
};

// COM on the calling thread (CoInitialize), one CLSID_ShellLink object through IShellLinkW, the
// file search, the shell folders and the shell's change notification.
class WinShortcutPort : public ShortcutPort {
public:
    ComScope StartCom() override;
    std::unique_ptr<ShellLink> CreateShellLink() override;
    void EnumerateEntries(std::u16string_view pattern, const EntryVisitor& visit) override;
    std::u16string GetFullPath(std::u16string_view path) override;
    bool EntryExists(std::u16string_view path) override;
    std::u16string GetShellFolderPath(std::int32_t csidl) override;
    void NotifyShell(std::u16string_view path) override;
};

// The system ports that an InstallEngine refers to, in one place for the install page to own.
struct WinEnginePorts {
    WinPackageStore package;
    WinTargetFileSystem files;
    WinNameDecoder names;
    WinLocalClock clock;
    WinShell shell;

    // An engine over these ports; this object and `ui` must outlive it.
    InstallEngine MakeEngine(InstallUi& ui, std::int32_t platformKind, std::u16string destinationFolder,
                             std::u16string systemFolder) {
        return InstallEngine{package,
                             ui,
                             files,
                             names,
                             clock,
                             shell,
                             platformKind,
                             std::move(destinationFolder),
                             std::move(systemFolder),
                             kPackageFileName};
    }
};

}  // namespace quentaro
