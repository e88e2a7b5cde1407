// Window base class and frame window.
#pragma once

#include <windows.h>

namespace win {

// A C++ object attached to one window. Register the window class with
// Window::RegisterClass (it installs the static thunk), create the window with
// Create(); the thunk attaches the object at WM_NCCREATE and then sends every
// message to the virtual OnMessage(). Unhandled messages go to DefaultProc().
// At WM_NCDESTROY the object forgets its window and OnFinalMessage() runs.
// The object must outlive its window (or be destroyed only after it).
//
// An exception that escapes a handler ends the process (the thunk is
// noexcept): it never unwinds through user32.
class Window {
public:
    Window() noexcept = default;
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Hwnd() const noexcept { return m_hwnd; }

    // Fills in the window procedure and the instance, then RegisterClassExW.
    // Registering a class that exists already counts as success.
    static bool RegisterClass(WNDCLASSEXW wc) noexcept;

    // Calls PreCreateWindow(cs) (false = no window), then CreateWindowExW with
    // the (possibly changed) fields of cs. Returns the window or nullptr.
    HWND Create(CREATESTRUCTW cs);

    // Lets the main window filter messages of App's message loop (accelerators).
    // true = the message was used and must not be dispatched.
    virtual bool PreTranslateMessage(MSG& msg);

protected:
    // Change the creation parameters (class, styles, name) before creation.
    // Return false to refuse the creation.
    virtual bool PreCreateWindow(CREATESTRUCTW& cs);

    // The dispatcher. Return true when the message is handled; `result` is
    // then the value the window procedure returns. Return false to pass the
    // message to DefaultProc(). Keep it a switch that calls small handlers.
    virtual bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

    // WM_COMMAND: true = handled.
    virtual bool OnCommand(WORD id, WORD code, HWND control);

    // What unhandled messages get: DefWindowProcW.
    virtual LRESULT DefaultProc(UINT msg, WPARAM wp, LPARAM lp);

    // Runs after WM_NCDESTROY, when the object no longer has a window.
    virtual void OnFinalMessage() {}

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;

private:
    HWND m_hwnd = nullptr;
};

// A top-level frame with a menu and accelerators from one resource id.
// Commands that the frame does not handle go to App::OnCommand; ID_APP_EXIT
// (57665) closes the frame.
class FrameWindow : public Window {
public:
    // Loads menu, accelerators and title (string) `resourceId`, then creates
    // the window with `style` at the default position. Returns true when the
    // window exists. As the main window of a running message loop, the frame
    // ends the loop when it is destroyed.
    bool LoadFrame(UINT resourceId, DWORD style, HWND parent);

    bool PreTranslateMessage(MSG& msg) override;

protected:
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
    bool OnCommand(WORD id, WORD code, HWND control) override;

    // WM_CREATE: 0 = go on, -1 = fail the creation.
    virtual int OnCreate(CREATESTRUCTW& cs);
    // Lays the children out in the client area (after WM_SIZE).
    virtual void RecalcLayout() {}

private:
    HACCEL m_accelerators = nullptr;  // resource tables are freed by the system
};

}  // namespace win
