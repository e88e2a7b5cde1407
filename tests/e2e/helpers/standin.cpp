// A stand-in program for the bench's own tests: it shows what a setup shows (message boxes,
// exit codes) without being one, so that the driver and the bench can be checked on their own.
//
//   standin msgbox <exit code>   message box with icon; exits with the given code after OK
//   standin yesno                Yes/No box; exits with the button's id (6 or 7)
//   standin loadbare             LoadLibraryW("RICHED20.dll") by its bare name; exit 1 if loaded

#include <windows.h>

#include <cwchar>
#include <cstdlib>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmd, int) {
    if (std::wcsncmp(cmd, L"msgbox", 6) == 0) {
        MessageBoxW(nullptr, L"ﾃﾞｰﾀﾌｧｲﾙ\nテスト本文", L"スタンドイン ｾｯﾄｱｯﾌﾟ", MB_ICONEXCLAMATION);
        return std::wcstol(cmd + 6, nullptr, 10);
    }
    if (std::wcscmp(cmd, L"yesno") == 0)
        return MessageBoxW(nullptr, L"続けますか?", L"スタンドイン", MB_YESNO | MB_ICONEXCLAMATION);
    if (std::wcscmp(cmd, L"loadbare") == 0) return LoadLibraryW(L"RICHED20.dll") ? 1 : 0;
    return 99;
}
