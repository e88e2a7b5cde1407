// Process-wide helpers: safe DLL loading and resource strings.
#pragma once

#include <windows.h>

#include <string>

namespace win {

// Restricts the DLL search of this process to the Windows system folder where
// Windows offers that: SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)
// (Windows 7 with KB2533623 and later) and SetDllDirectoryW(L"") (XP SP1 and
// later, removes the current folder from the search). Both are looked up at
// run time, so the program still starts on Windows 2000. Call it first thing
// in wWinMain, before anything loads a DLL on demand.
void RestrictDllSearchToSystemFolder() noexcept;

// The Windows system folder (GetSystemDirectoryW), without a trailing backslash
// unless it is a drive root. Empty if the call fails.
std::wstring SystemFolder();

// Loads `name` from the Windows system folder by its full path, never from the
// program's folder or the current folder. Returns nullptr on failure.
HMODULE LoadSystemLibrary(const wchar_t* name) noexcept;

// The program's own module: the resource module of every template, icon and string.
HINSTANCE ResourceInstance() noexcept;

// String resource `id` of the program, empty if there is none.
std::wstring LoadResourceString(UINT id);

}  // namespace win
