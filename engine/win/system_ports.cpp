// Names, local time, the shell, the version query, folders and free space.
#include "engine/win/win_ports.h"

#include <shellapi.h>

#include "win/handles.h"
#include "core/package.h"

namespace quentaro {
namespace {

// The count of characters that a package name may decode to.
constexpr int kNameCharacters = 32;

bool SystemTimeOfSeconds(std::int64_t seconds, SYSTEMTIME& time) {
    FILETIME fileTime{};
    return FileTimeOfUnixSeconds(seconds, fileTime) && ::FileTimeToSystemTime(&fileTime, &time) != 0;
}

LocalTime LocalTimeOf(const SYSTEMTIME& time) {
    return LocalTime{time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

// True when the UTC time `utcSeconds` shows as `localSeconds` on this computer's clock (both
// counted as seconds of a calendar since 1970).
bool ShowsAs(std::int64_t utcSeconds, std::int64_t localSeconds) {
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    if (!SystemTimeOfSeconds(utcSeconds, utc)) return false;
    // SystemTimeToTzSpecificLocalTime with no zone given: the current zone of the system, with its
    // daylight saving rule applied to the date in question. Non-zero on success.
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return false;
    return UtcSecondsOfCivil(LocalTimeOf(local)) == localSeconds;
}

// The kernel's IsWow64Process, which the program does not import.
using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);

}  // namespace

std::u16string WinNameDecoder::DecodeAnsi(const std::uint8_t* bytes, std::size_t count) {
    if (count == 0 || count > kNameSize) return {};
    wchar_t buffer[kNameCharacters] = {};
    // MultiByteToWideChar: the number of characters written, 0 on failure (including a result
    // that does not fit the buffer).
    const int written = ::MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes),
                                              static_cast<int>(count), buffer, kNameCharacters);
    if (written <= 0) return {};
    return ToU16(std::wstring_view(buffer, static_cast<std::size_t>(written)));
}

bool WinLocalClock::LocalToUtc(const LocalTime& local, std::int64_t& utcSeconds) {
    // SYSTEMTIME holds the years 1601 to 30827; a time outside a calendar has no local reading.
    if (!IsCalendarTime(local) || local.year < 1601 || local.year > 30827) return false;
    TIME_ZONE_INFORMATION zone{};
    // GetTimeZoneInformation: TIME_ZONE_ID_INVALID on failure, else which part of the year it is.
    if (::GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return false;

    const std::int64_t localSeconds = UtcSecondsOfCivil(local);
    // UTC = local time + bias, in minutes; the daylight bias applies while daylight saving time
    // is in force. A zone without a daylight rule has wMonth 0 in DaylightDate.
    const std::int64_t standard = localSeconds + std::int64_t{zone.Bias + zone.StandardBias} * 60;
    const std::int64_t daylight = localSeconds + std::int64_t{zone.Bias + zone.DaylightBias} * 60;
    const bool hasDaylight = zone.DaylightDate.wMonth != 0 && zone.DaylightBias != zone.StandardBias;
    if (hasDaylight && ShowsAs(daylight, localSeconds)) {
        utcSeconds = daylight;
        return true;
    }
    if (ShowsAs(standard, localSeconds)) {
        utcSeconds = standard;
        return true;
    }
    // The skipped hour at the start of daylight saving time: no UTC time shows as it. The
    // standard reading is what the clock would have shown had it not been moved on.
    FILETIME representable{};
    if (!FileTimeOfUnixSeconds(standard, representable)) return false;
    utcSeconds = standard;
    return true;
}

bool WinShell::RunAndWait(const std::u16string& program, const std::u16string& parameters,
                          const std::u16string& folder) {
    const std::wstring file = ToWide(program);
    const std::wstring arguments = ToWide(parameters);
    const std::wstring directory = ToWide(folder);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    // No box of the shell's own for a program that cannot be started: the setup reports it.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = nullptr;
    info.lpFile = file.c_str();
    info.lpParameters = arguments.c_str();
    info.lpDirectory = directory.c_str();
    info.nShow = SW_SHOW;
    // ShellExecuteExW: FALSE when the program cannot be started. A start that hands the file to a
    // program that is already running succeeds without a process handle: nothing to wait for.
    if (!::ShellExecuteExW(&info)) return false;
    win::UniqueHandle process(info.hProcess);
    if (process) ::WaitForSingleObject(process.Get(), INFINITE);
    return true;
}

VersionReport QueryVersionReport() {
    OSVERSIONINFOW info{};
    static_assert(sizeof(info) == 276, "OSVERSIONINFOW is 276 bytes");
    info.dwOSVersionInfoSize = sizeof(info);
    VersionReport report;
    // GetVersionExW: non-zero on success.
    report.succeeded = ::GetVersionExW(&info) != 0;
    if (report.succeeded) {
        report.platformId = info.dwPlatformId;
        report.majorVersion = info.dwMajorVersion;
        report.minorVersion = info.dwMinorVersion;
    }
    return report;
}

std::int32_t QueryIsWow64() {
    IsWow64ProcessCall call;
    // Looked up at run time: Windows 2000 and XP before SP2 do not export it.
    if (HMODULE kernel = ::GetModuleHandleW(L"kernel32")) {
        if (FARPROC address = ::GetProcAddress(kernel, "IsWow64Process")) {
            // Through void (*)(): the one function pointer type that converts to any other without
            // a cast-function-type warning.
            const auto function =
                reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void (*)()>(address));
            call = [function](std::int32_t& wow64Flag) {
                BOOL flag = FALSE;
                // The result is not examined: a call that fails and leaves the flag alone answers 0.
                function(::GetCurrentProcess(), &flag);
                wow64Flag = flag;
            };
        }
    }
    return IsWow64(call);
}

std::int32_t QueryPlatformKind() {
    return GetPlatformKind(QueryVersionReport(), &QueryIsWow64);
}

std::u16string QuerySystemFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    // GetSystemDirectoryW: the length without the terminator, or the size needed when the buffer is
    // too small, 0 on failure.
    const UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return {};
    return ToU16(std::wstring_view(buffer, length));
}

std::optional<std::uint64_t> QueryTotalFreeBytes(std::u16string_view root) {
    const std::wstring wideRoot = ToWide(root);
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER totalFree{};
    // GetDiskFreeSpaceExW: non-zero on success. The third result counts all free bytes of the
    // volume, also those beyond the user's quota.
    if (!::GetDiskFreeSpaceExW(wideRoot.c_str(), &available, &total, &totalFree)) return std::nullopt;
    return totalFree.QuadPart;
}

bool WinFolderPort::IsExistingFolder(std::u16string_view path) {
    const std::wstring widePath = ToWide(path);
    WIN32_FIND_DATAW data{};
    win::UniqueFind find(::FindFirstFileW(widePath.c_str(), &data));
    return find && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::uint32_t WinFolderPort::GetLogicalDriveMask() {
    return ::GetLogicalDrives();
}

CreateFolderResult WinFolderPort::CreateFolder(std::u16string_view path) {
    const std::wstring widePath = ToWide(path);
    // CreateDirectoryW: non-zero on success; GetLastError is meaningful only after a failure.
    if (::CreateDirectoryW(widePath.c_str(), nullptr)) return CreateFolderResult::kCreated;
    return ::GetLastError() == ERROR_ALREADY_EXISTS ? CreateFolderResult::kAlreadyExists
                                                    : CreateFolderResult::kFailed;
}

void WinFolderPort::SetNormalAttributes(std::u16string_view path) {
    const std::wstring widePath = ToWide(path);
    ::SetFileAttributesW(widePath.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace quentaro
