// The application object: one per process, a static object of the program.
#pragma once

#include <windows.h>

#include <atomic>

namespace win {

class Window;

// Derive once, create the derived object as a static, and call
// App::Current()->Run() from wWinMain. Run() calls InitInstance(); if that
// returns TRUE, Run() runs a message loop until WM_QUIT. Either way it then
// destroys the main window (if one is left), calls ExitInstance() and returns
// its value, the process exit code.
class App {
public:
    App() noexcept;
    virtual ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // The one application object (nullptr before it is constructed).
    static App* Current() noexcept;

    int Run(HINSTANCE instance, int showCommand) noexcept;

    HINSTANCE Instance() const noexcept { return m_instance; }
    int ShowCommand() const noexcept { return m_showCommand; }
    DWORD MainThreadId() const noexcept { return m_mainThreadId; }

    // The exit code that the default ExitInstance returns. Any thread may set it.
    void SetExitCode(int code) noexcept { m_exitCode.store(code); }
    int ExitCode() const noexcept { return m_exitCode.load(); }

    // Commands that no window handled (routed here by FrameWindow).
    // Returns true when handled.
    virtual bool OnCommand(UINT id);

    // The main window; the object is owned by the derived application.
    Window* m_pMainWnd = nullptr;

protected:
    // TRUE = run the message loop; FALSE = shut down at once.
    virtual BOOL InitInstance() = 0;
    // Called last; returns the process exit code (by default ExitCode()).
    virtual int ExitInstance();

private:
    int MessageLoop() noexcept;

    HINSTANCE m_instance = nullptr;
    int m_showCommand = SW_SHOWNORMAL;
    DWORD m_mainThreadId = 0;
    std::atomic<int> m_exitCode{0};
};

}  // namespace win
