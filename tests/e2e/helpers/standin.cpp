// A stand-in program for the bench's own tests: it shows what a setup shows (message boxes,
// exit codes) without being one, so that the driver and the bench can be checked on their own.
//
//   standin msgbox <exit code>   message box with icon; exits with the given code after OK
//   standin plain <exit code>    the same box without an icon (MB_OK only)
//   standin yesno                Yes/No box; exits with the button's id (6 or 7)
//   standin loadbare             LoadLibraryW("RICHED20.dll") by its bare name; exit 1 if loaded
//   standin richedit             a window with a rich edit control (id 1023) of known text and
//                                format; exits with 7 when closed

#include <windows.h>
#include <richedit.h>

#include <cwchar>
#include <cstdlib>
#include <string>

namespace {

LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(7);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// 20 paragraphs separated by carriage returns, protected 10-point text, a 200-twip hanging indent.
int RichEditWindow(HINSTANCE instance) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    if (!LoadLibraryW((std::wstring(system) + L"\\riched20.dll").c_str())) return 98;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = FrameProc;
    wc.hInstance = instance;
    wc.lpszClassName = L"StandInFrame";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    RegisterClassW(&wc);
    HWND frame = CreateWindowExW(0, L"StandInFrame", L"リッチエディット", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                 10, 10, 400, 200, nullptr, nullptr, instance, nullptr);
    HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"RICHEDIT20W", L"",
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY, 10, 10, 300,
                                100, frame, reinterpret_cast<HMENU>(1023), instance, nullptr);
    std::wstring text;
    for (int i = 1; i <= 20; ++i) text += L"第" + std::to_wstring(i) + L"段落" + (i < 20 ? L"\r" : L"");
    SetWindowTextW(edit, text.c_str());
    CHARFORMAT2W cf = {};
    cf.cbSize = sizeof cf;
    cf.dwMask = CFM_SIZE | CFM_PROTECTED | CFM_FACE | CFM_CHARSET;
    cf.dwEffects = CFE_PROTECTED;
    cf.yHeight = 200;
    cf.bCharSet = SHIFTJIS_CHARSET;
    lstrcpyW(cf.szFaceName, L"ＭＳ Ｐゴシック");
    SendMessageW(edit, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&cf));
    SendMessageW(edit, EM_SETSEL, 0, -1);
    PARAFORMAT2 pf = {};
    pf.cbSize = sizeof pf;
    pf.dwMask = PFM_OFFSET;
    pf.dxOffset = 200;
    SendMessageW(edit, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&pf));
    SendMessageW(edit, EM_SETSEL, 3, 5);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR cmd, int) {
    if (std::wcscmp(cmd, L"richedit") == 0) return RichEditWindow(instance);
    if (std::wcsncmp(cmd, L"msgbox", 6) == 0) {
        MessageBoxW(nullptr, L"ﾃﾞｰﾀﾌｧｲﾙ\nテスト本文", L"スタンドイン ｾｯﾄｱｯﾌﾟ", MB_ICONEXCLAMATION);
        return std::wcstol(cmd + 6, nullptr, 10);
    }
    if (std::wcsncmp(cmd, L"plain", 5) == 0) {
        MessageBoxW(nullptr, L"ﾃﾞｰﾀﾌｧｲﾙ\nテスト本文", L"スタンドイン ｾｯﾄｱｯﾌﾟ", MB_OK);
        return std::wcstol(cmd + 5, nullptr, 10);
    }
    if (std::wcscmp(cmd, L"yesno") == 0)
        return MessageBoxW(nullptr, L"続けますか?", L"スタンドイン", MB_YESNO | MB_ICONEXCLAMATION);
    if (std::wcscmp(cmd, L"loadbare") == 0) return LoadLibraryW(L"RICHED20.dll") ? 1 : 0;
    return 99;
}
