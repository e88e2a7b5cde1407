#include "win/system.h"

namespace win {

namespace {

// Not declared by the headers for the Windows versions this program targets.
constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;

template <class Fn>
Fn Kernel32Export(const char* name) noexcept {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return nullptr;
    // GetProcAddress returns a generic FARPROC; the caller names the real type.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, name)));
}

}  // namespace

void RestrictDllSearchToSystemFolder() noexcept {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
    if (auto setDefault = Kernel32Export<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories")) {
        setDefault(kLoadLibrarySearchSystem32);
    }
    if (auto setDirectory = Kernel32Export<SetDllDirectoryFn>("SetDllDirectoryW")) {
        setDirectory(L"");
    }
}

std::wstring SystemFolder() {
    wchar_t buffer[MAX_PATH];
    UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(buffer, length);
}

HMODULE LoadSystemLibrary(const wchar_t* name) noexcept {
    std::wstring path = SystemFolder();
    if (path.empty()) return nullptr;
    if (path.back() != L'\\') path += L'\\';
    path += name;
    // LOAD_WITH_ALTERED_SEARCH_PATH: the DLL's own dependencies are searched
    // for starting in its folder (the system folder), not the program's folder.
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HINSTANCE ResourceInstance() noexcept {
    return ::GetModuleHandleW(nullptr);
}

std::wstring LoadResourceString(UINT id) {
    const wchar_t* text = nullptr;
    // With a buffer size of 0, LoadStringW returns a read-only pointer to the
    // resource itself and the length; the text is not terminated there.
    int length = ::LoadStringW(ResourceInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text) return std::wstring();
    return std::wstring(text, static_cast<size_t>(length));
}

}  // namespace win
