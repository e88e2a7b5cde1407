// The package and the target files over CreateFileW, ReadFile, WriteFile and SetFileTime.
#include "engine/win/win_ports.h"

#include <limits>

#include "app/win/handles.h"

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

class WinTargetFile : public TargetFile {
public:
    explicit WinTargetFile(win::UniqueFile file) : m_file(std::move(file)) {}

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

private:
    win::UniqueFile m_file;
};

}  // namespace

std::unique_ptr<PackageFile> WinPackageStore::Open(const std::u16string& name) {
    const std::wstring wideName = ToWide(name);
    // Share mode 0: while the package is open, no other open of it succeeds.
    win::UniqueFile file(::CreateFileW(wideName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<WinPackageFile>(std::move(file));
}

std::unique_ptr<TargetFile> WinTargetFileSystem::Create(const std::u16string& path) {
    const std::wstring widePath = ToWide(path);
    // CREATE_ALWAYS: a new file, or an existing one emptied. INVALID_HANDLE_VALUE on failure.
    win::UniqueFile file(::CreateFileW(widePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<WinTargetFile>(std::move(file));
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

bool WinTargetFileSystem::SetFileTimes(const std::u16string& path, const FileTimes& times) {
    FILETIME creation{};
    FILETIME lastWrite{};
    if (!FileTimeOfUnixSeconds(times.creation, creation) ||
        !FileTimeOfUnixSeconds(times.lastWrite, lastWrite)) {
        return false;
    }
    const std::wstring widePath = ToWide(path);
    win::UniqueFile file(::CreateFileW(widePath.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    // SetFileTime: non-zero on success; the null last-access time keeps its value.
    return ::SetFileTime(file.Get(), &creation, nullptr, &lastWrite) != 0;
}

}  // namespace quentaro
