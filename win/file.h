// A file opened with CreateFileW, without sharing.
#pragma once

#include <windows.h>

#include <cstdint>

#include "win/handles.h"

namespace win {

// Both modes open with share mode 0: while the file is open nobody else can
// open it, and it cannot be opened while another program holds it open.
class File {
public:
    enum class Mode {
        kRead,         // GENERIC_READ, the file must exist (OPEN_EXISTING)
        kCreateWrite,  // GENERIC_WRITE, created or truncated (CREATE_ALWAYS)
    };

    File() noexcept = default;

    // Closes any file open before. false = failed; LastError() says why.
    bool Open(const wchar_t* path, Mode mode) noexcept;
    void Close() noexcept { m_file.Reset(); }
    bool IsOpen() const noexcept { return m_file.IsValid(); }
    HANDLE Handle() const noexcept { return m_file.Get(); }

    // Reads up to `size` bytes; `got` is how many came (0 at the end).
    bool Read(void* buffer, DWORD size, DWORD& got) noexcept;
    // true only when all `size` bytes were read.
    bool ReadExact(void* buffer, DWORD size) noexcept;
    // true only when all `size` bytes were written.
    bool Write(const void* buffer, DWORD size) noexcept;
    // Moves to the absolute byte position.
    bool Seek(std::uint64_t position) noexcept;
    bool GetLength(std::uint64_t& length) noexcept;

    // GetLastError() of the last call that failed (0 if none did).
    DWORD LastError() const noexcept { return m_error; }

private:
    bool Fail() noexcept {
        m_error = ::GetLastError();
        return false;
    }

    UniqueFile m_file;
    DWORD m_error = 0;
};

}  // namespace win
