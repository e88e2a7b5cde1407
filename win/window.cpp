#include "win/window.h"

#include "win/app.h"
#include "win/system.h"

namespace win {

namespace {
constexpr WORD kIdAppExit = 57665;
}

Window::~Window() {
    // The window outlived its object: make the thunk stop calling it.
    if (m_hwnd && ::IsWindow(m_hwnd)) ::SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
}

bool Window::RegisterClass(WNDCLASSEXW wc) noexcept {
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &Window::WindowProc;
    wc.hInstance = ResourceInstance();
    if (::RegisterClassExW(&wc)) return true;
    return ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND Window::Create(CREATESTRUCTW cs) {
    if (!PreCreateWindow(cs)) return nullptr;
    return ::CreateWindowExW(cs.dwExStyle, cs.lpszClass, cs.lpszName, static_cast<DWORD>(cs.style), cs.x,
                             cs.y, cs.cx, cs.cy, cs.hwndParent, cs.hMenu, ResourceInstance(), this);
}

bool Window::PreTranslateMessage(MSG&) {
    return false;
}

bool Window::PreCreateWindow(CREATESTRUCTW&) {
    return true;
}

bool Window::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (msg == WM_COMMAND && OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp))) {
        result = 0;
        return true;
    }
    return false;
}

bool Window::OnCommand(WORD, WORD, HWND) {
    return false;
}

LRESULT Window::DefaultProc(UINT msg, WPARAM wp, LPARAM lp) {
    return ::DefWindowProcW(m_hwnd, msg, wp, lp);
}

LRESULT CALLBACK Window::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    Window* self = nullptr;
    if (msg == WM_NCCREATE) {
        self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        if (self) {
            self->m_hwnd = hwnd;
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
    } else {
        self = reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    // Messages before WM_NCCREATE (WM_GETMINMAXINFO) and after the object let
    // go of the window.
    if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);

    LRESULT result = 0;
    if (!self->OnMessage(msg, wp, lp, result)) result = self->DefaultProc(msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->m_hwnd = nullptr;
        self->OnFinalMessage();
    }
    return result;
}

bool FrameWindow::LoadFrame(UINT resourceId, DWORD style, HWND parent) {
    HINSTANCE instance = ResourceInstance();
    m_accelerators = ::LoadAcceleratorsW(instance, MAKEINTRESOURCEW(resourceId));
    std::wstring title = LoadResourceString(resourceId);
    CREATESTRUCTW cs{};
    cs.hMenu = ::LoadMenuW(instance, MAKEINTRESOURCEW(resourceId));
    cs.hwndParent = parent;
    cs.x = cs.y = cs.cx = cs.cy = CW_USEDEFAULT;
    cs.style = static_cast<LONG>(style);
    cs.lpszName = title.c_str();
    HWND hwnd = Create(cs);
    if (!hwnd && cs.hMenu) ::DestroyMenu(cs.hMenu);
    return hwnd != nullptr;
}

bool FrameWindow::PreTranslateMessage(MSG& msg) {
    if (!m_accelerators || !Hwnd()) return false;
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    return ::TranslateAcceleratorW(Hwnd(), m_accelerators, &msg) != 0;
}

bool FrameWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    switch (msg) {
    case WM_CREATE:
        result = OnCreate(*reinterpret_cast<CREATESTRUCTW*>(lp));
        return true;
    case WM_SIZE:
        RecalcLayout();
        result = 0;
        return true;
    case WM_COMMAND: {
        WORD id = LOWORD(wp);
        if (!OnCommand(id, HIWORD(wp), reinterpret_cast<HWND>(lp))) {
            if (App* app = App::Current()) app->OnCommand(id);
        }
        result = 0;
        return true;
    }
    case WM_DESTROY: {
        // As the main window of a running loop, the frame ends the program.
        App* app = App::Current();
        if (app && app->m_pMainWnd == this) ::PostQuitMessage(app->ExitCode());
        return false;
    }
    default:
        return Window::OnMessage(msg, wp, lp, result);
    }
}

bool FrameWindow::OnCommand(WORD id, WORD, HWND) {
    if (id == kIdAppExit) {
        ::PostMessageW(Hwnd(), WM_CLOSE, 0, 0);
        return true;
    }
    return false;
}

int FrameWindow::OnCreate(CREATESTRUCTW&) {
    return 0;
}

}  // namespace win
