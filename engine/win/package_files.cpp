// The package and the target files over CreateFileW, ReadFile, WriteFile and SetFileTime.
#include "engine/win/win_ports.h"

#include <limits>

#include "win/handles.h"

namespace quentaro {
namespace {

// DWORD-sized pieces of a transfer: ReadFile and WriteFile take a 32-bit count.
DWORD ChunkOf(std::size_t count) {
    constexpr std::size_t kMaxChunk = std::numeric_limits<DWORD>::max();
    return static_cast<DWORD>(count < kMaxChunk ? count : kMaxChunk);
}

class WinPackageFile : public PackageFile {
public:
    explicit WinPackageFile(win::UniqueFile file) : m_file(std::move(file)) {}

    bool GetIdentity(FileIdentity& identity) override {
        BY_HANDLE_FILE_INFORMATION info{};
        // GetFileInformationByHandle: non-zero on success; the index is stable while the file is open.
        if (!::GetFileInformationByHandle(m_file.Get(), &info)) return false;
        identity.volume = info.dwVolumeSerialNumber;
        identity.index = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
        return true;
    }

    std::uint64_t Size() override {
        LARGE_INTEGER size{};
        // GetFileSizeEx: non-zero on success. A file whose size cannot be read counts as empty,
        // which every reader treats as a damaged package.
        if (!::GetFileSizeEx(m_file.Get(), &size) || size.QuadPart < 0) return 0;
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    bool Seek(std::uint64_t offset) override {
        if (offset > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max())) return false;
        LARGE_INTEGER distance{};
        distance.QuadPart = static_cast<LONGLONG>(offset);
        // SetFilePointerEx: non-zero on success; positions past the end are allowed.
        return ::SetFilePointerEx(m_file.Get(), distance, nullptr, FILE_BEGIN) != 0;
    }

    ReadResult Read(std::uint8_t* buffer, std::size_t count) override {
        ReadResult result;
        DWORD read = 0;
        // ReadFile: FALSE on an error; TRUE with fewer bytes than asked at the end of the file.
        if (!::ReadFile(m_file.Get(), buffer, ChunkOf(count), &read, nullptr)) result.ioError = true;
        result.count = read;
        return result;
    }

private:
    win::UniqueFile m_file;
};

WriteStatus StatusOfLastError() {
    const DWORD error = ::GetLastError();
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? WriteStatus::kDiskFull
                                                                       : WriteStatus::kFailed;
}

// Whether an old file of the name could be replaced. It is opened as creating the file over it used
// to open it, for writing without sharing, and left unchanged: a read-only or busy file refuses that.
// A missing file (or a link that leads nowhere) is no obstacle.
bool OldFileCanBeReplaced(const std::wstring& path) {
    win::UniqueFile old(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (old) return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND;
}

// The written file under its temporary name; see TargetFile.
class WinTargetFile : public TargetFile {
public:
    WinTargetFile(win::UniqueFile file, std::wstring temporary, std::wstring path)
        : m_file(std::move(file)), m_temporary(std::move(temporary)), m_path(std::move(path)) {}

    ~WinTargetFile() override {
        if (m_committed) return;
        m_file.Reset();
        // DeleteFileW: the temporary file goes on every failure; nothing else can hold it (no
        // sharing was granted while it was open).
        ::DeleteFileW(m_temporary.c_str());
    }

    WriteStatus Write(const std::uint8_t* data, std::size_t count) override {
        while (count > 0) {
            DWORD written = 0;
            // WriteFile: FALSE on an error (a full disk gives ERROR_DISK_FULL). A call that succeeds
            // but writes nothing would loop for ever: it counts as a failure too.
            if (!::WriteFile(m_file.Get(), data, ChunkOf(count), &written, nullptr))
                return StatusOfLastError();
            if (written == 0) return WriteStatus::kFailed;
            data += written;
            count -= written;
        }
        return WriteStatus::kOk;
    }

    WriteStatus Close() override {
        // CloseHandle: FALSE when the file system reports a failure of the last writes.
        if (!::CloseHandle(m_file.Release())) return StatusOfLastError();
        return WriteStatus::kOk;
    }

    bool SetTimes(const FileTimes& times) override {
        FILETIME creation{};
        FILETIME lastWrite{};
        if (!FileTimeOfUnixSeconds(times.creation, creation) ||
            !FileTimeOfUnixSeconds(times.lastWrite, lastWrite)) {
            return false;
        }
        win::UniqueFile file(::CreateFileW(m_temporary.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        // SetFileTime: non-zero on success; the null last-access time keeps its value.
        return ::SetFileTime(file.Get(), &creation, nullptr, &lastWrite) != 0;
    }

    bool Commit() override {
        // MoveFileExW: non-zero on success; on one drive it renames. First without replacing: for a
        // new name (nearly every file) that is the only look-up of the name in its folder. When
        // something has the name already, an old file that is read-only or busy is refused, as
        // creating the file over it would have been; otherwise it is replaced as a whole (a link
        // itself, not the file it leads to). A failure leaves the old file as it was.
        if (!::MoveFileExW(m_temporary.c_str(), m_path.c_str(), 0)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
            if (!OldFileCanBeReplaced(m_path)) return false;
            if (!::MoveFileExW(m_temporary.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
        }
        m_committed = true;
        return true;
    }

private:
    win::UniqueFile m_file;
    std::wstring m_temporary;
    std::wstring m_path;
    bool m_committed = false;
};

// "~qs" and the eight hexadecimal digits of `value`, then `suffix`.
std::wstring StagingName(DWORD value, const wchar_t* suffix) {
    std::wstring name = L"~qs";
    for (int shift = 28; shift >= 0; shift -= 4) name += L"0123456789ABCDEF"[(value >> shift) & 0xF];
    return name + suffix;
}

// The folder part of `path`, with its backslash ("" when there is none).
std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

}  // namespace

std::unique_ptr<PackageFile> WinPackageStore::Open(const std::u16string& name) {
    const std::wstring wideName = ToWide(name);
    // Readers only: while the package is open, no program can write, truncate, rename or delete it
    // (no FILE_SHARE_WRITE, no FILE_SHARE_DELETE), and an open that does not share reading fails.
    win::UniqueFile file(::CreateFileW(wideName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<WinPackageFile>(std::move(file));
}

WinTargetFileSystem::WinTargetFileSystem() : m_seed(::GetTickCount() ^ (::GetCurrentProcessId() << 16)) {}

WinTargetFileSystem::~WinTargetFileSystem() {
    // RemoveDirectoryW: only an empty folder goes; every temporary file in it has been renamed into
    // place or deleted by now.
    for (const Staging& staging : m_staging) {
        if (!staging.folder.empty()) ::RemoveDirectoryW(staging.folder.c_str());
    }
}

const std::wstring& WinTargetFileSystem::StagingFolderFor(const std::wstring& folder) {
    for (const Staging& staging : m_staging) {
        if (staging.parent == folder) return staging.folder;
    }
    Staging staging{folder, std::wstring()};
    for (DWORD attempt = 0; attempt < 100; ++attempt) {
        std::wstring name = folder + StagingName(m_seed + attempt * 0x9E3779B9u, L"");
        // CreateDirectoryW: fails when anything has that name (a folder left by an earlier run, a
        // file, a link planted there): then another name is tried.
        if (::CreateDirectoryW(name.c_str(), nullptr)) {
            staging.folder = name + L"\\";
            break;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) break;
    }
    m_staging.push_back(std::move(staging));
    return m_staging.back().folder;
}

std::unique_ptr<TargetFile> WinTargetFileSystem::Create(const std::u16string& path) {
    const std::wstring widePath = ToWide(path);
    const std::wstring folder = FolderOf(widePath);
    // The temporary files of a folder are made in a small folder of their own inside it: a name
    // that does not exist yet is looked up by reading the whole folder under some file systems
    // (Wine reads it to find a name that differs only in case), so the folder that receives
    // thousands of files is searched once per file, by the rename, and not again for the temporary
    // name. Where that folder cannot be made, the temporary files go into the folder itself.
    const std::wstring& staging = StagingFolderFor(folder);
    const std::wstring& home = staging.empty() ? folder : staging;
    for (DWORD attempt = 0; attempt < 100; ++attempt) {
        std::wstring temporary = home + StagingName(m_seed + ++m_count * 0x9E3779B9u, L".tmp");
        // CREATE_NEW: fails with ERROR_FILE_EXISTS when something has that name (a file left by an
        // earlier run, or a link planted there): then another name is tried; nothing existing is
        // ever opened or followed. INVALID_HANDLE_VALUE on failure.
        win::UniqueFile file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) return std::make_unique<WinTargetFile>(std::move(file), std::move(temporary), widePath);
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return nullptr;
    }
    return nullptr;
}

bool FileTimeOfUnixSeconds(std::int64_t seconds, FILETIME& fileTime) {
    constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
    constexpr std::int64_t kTicksPerSecond = 10000000;
    if (seconds < -kSecondsFrom1601To1970) return false;
    if (seconds > std::numeric_limits<std::int64_t>::max() / kTicksPerSecond - kSecondsFrom1601To1970) {
        return false;
    }
    const std::uint64_t ticks =
        static_cast<std::uint64_t>((seconds + kSecondsFrom1601To1970) * kTicksPerSecond);
    fileTime.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    fileTime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return true;
}

}  // namespace quentaro
