#include "win/app.h"

#include <commctrl.h>

#include "win/window.h"

namespace win {

namespace {
App* g_app = nullptr;
}

App::App() noexcept {
    g_app = this;
}

App::~App() {
    if (g_app == this) g_app = nullptr;
}

App* App::Current() noexcept {
    return g_app;
}

bool App::OnCommand(UINT) {
    return false;
}

int App::ExitInstance() {
    return ExitCode();
}

int App::Run(HINSTANCE instance, int showCommand) noexcept {
    m_instance = instance;
    m_showCommand = showCommand;
    m_mainThreadId = ::GetCurrentThreadId();

    // Registers the common control classes that the frame and the page
    // templates use (toolbar, status bar, progress bar).
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);

    if (InitInstance()) SetExitCode(MessageLoop());

    if (m_pMainWnd && m_pMainWnd->Hwnd()) ::DestroyWindow(m_pMainWnd->Hwnd());
    return ExitInstance();
}

int App::MessageLoop() noexcept {
    MSG msg;
    for (;;) {
        BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(msg.wParam);  // WM_QUIT
        if (got == -1) return ExitCode();
        if (m_pMainWnd && m_pMainWnd->PreTranslateMessage(msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

}  // namespace win
