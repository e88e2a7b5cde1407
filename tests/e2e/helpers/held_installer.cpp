// A driver installer stand-in that the test holds: packed as "QuentaroDriver32setup.exe", it keeps
// the install job waiting for it (the job waits for the installer's process) until the test lets
// it go. It writes "held.started" next to itself when it starts, then waits until "held.release"
// appears there (at most 120 s), writes "held.ended" and exits with 0.
#include <windows.h>

#include <string>

namespace {

constexpr DWORD kPollMs = 20;
constexpr DWORD kMaxWaitMs = 120000;

std::wstring Beside(const wchar_t* name) {
    wchar_t self[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return name;
    std::wstring path(self, length);
    path.erase(path.find_last_of(L'\\') + 1);
    return path + name;
}

void Touch(const std::wstring& path) {
    HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    Touch(Beside(L"held.started"));
    const std::wstring release = Beside(L"held.release");
    for (DWORD waited = 0; waited < kMaxWaitMs; waited += kPollMs) {
        if (::GetFileAttributesW(release.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        ::Sleep(kPollMs);
    }
    Touch(Beside(L"held.ended"));
    return 0;
}
