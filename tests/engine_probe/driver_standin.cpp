// A stand-in for the driver installer "QuentaroDriver32setup.exe", for the end-to-end tests. It
// waits a moment, so that a caller that does not wait for it would finish first, then appends one
// line to "QuentaroDriver32setup.record" next to itself, and exits with status 7. The line, UTF-8:
// its parameters (the command line after the program name), a TAB, its current folder, and when
// the variable QUENTARO_STANDIN_OPEN names a file, a TAB and what an open of that file for reading
// gave, then a TAB and what an open for writing gave (both with full sharing): 0, or the error code.
#include <windows.h>

#include <string>

namespace {

constexpr DWORD kDelayMs = 1500;

std::string Utf8(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                              nullptr, nullptr);
    }
    return bytes;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR parameters, int) {
    ::Sleep(kDelayMs);
    wchar_t folder[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, folder);
    wchar_t self[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    std::wstring record(self, length);
    record.erase(record.find_last_of(L'\\') + 1);
    record += L"QuentaroDriver32setup.record";

    std::wstring text = std::wstring(parameters ? parameters : L"") + L"\t" + folder;
    wchar_t openName[MAX_PATH] = {};
    const DWORD openLength = ::GetEnvironmentVariableW(L"QUENTARO_STANDIN_OPEN", openName, MAX_PATH);
    if (openLength > 0 && openLength < MAX_PATH) {
        const DWORD accesses[] = {GENERIC_READ, GENERIC_WRITE};
        for (DWORD access : accesses) {
            HANDLE other =
                ::CreateFileW(openName, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            const DWORD error = other == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
            if (other != INVALID_HANDLE_VALUE) ::CloseHandle(other);
            text += L"\t" + std::to_wstring(error);
        }
    }
    const std::string line = Utf8(text) + "\n";
    HANDLE file = ::CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(file);
    return 7;
}
