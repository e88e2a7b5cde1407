#include "win/file.h"

namespace win {

bool File::Open(const wchar_t* path, Mode mode) noexcept {
    Close();
    m_error = 0;
    DWORD access = mode == Mode::kRead ? GENERIC_READ : GENERIC_WRITE;
    DWORD disposition = mode == Mode::kRead ? OPEN_EXISTING : CREATE_ALWAYS;
    const DWORD kNoSharing = 0;
    m_file.Reset(
        ::CreateFileW(path, access, kNoSharing, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    return m_file ? true : Fail();
}

bool File::Read(void* buffer, DWORD size, DWORD& got) noexcept {
    got = 0;
    return ::ReadFile(m_file.Get(), buffer, size, &got, nullptr) ? true : Fail();
}

bool File::ReadExact(void* buffer, DWORD size) noexcept {
    DWORD got = 0;
    if (!Read(buffer, size, got)) return false;
    if (got != size) {
        m_error = ERROR_HANDLE_EOF;
        return false;
    }
    return true;
}

bool File::Write(const void* buffer, DWORD size) noexcept {
    DWORD written = 0;
    if (!::WriteFile(m_file.Get(), buffer, size, &written, nullptr)) return Fail();
    if (written != size) {
        m_error = ERROR_WRITE_FAULT;
        return false;
    }
    return true;
}

bool File::Seek(std::uint64_t position) noexcept {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(position);
    return ::SetFilePointerEx(m_file.Get(), distance, nullptr, FILE_BEGIN) ? true : Fail();
}

bool File::GetLength(std::uint64_t& length) noexcept {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(m_file.Get(), &size)) return Fail();
    length = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

}  // namespace win
