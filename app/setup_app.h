// CSetupApp: the application object of QUENTARO Setup.
#pragma once

#include <windows.h>

#include <memory>

#include "win/app.h"

class CMainFrame;

// The caption of the setup's message boxes (all but the cancel confirmation).
inline constexpr wchar_t kSetupCaption[] = L"QUENTARO ｾｯﾄｱｯﾌﾟ";

// The standard error box: owned by `owner`, the setup's caption, the exclamation icon and one OK
// button (MB_OK | MB_ICONEXCLAMATION, 0x30). Returns when the user has closed it.
inline void ShowErrorBox(HWND owner, const wchar_t* text) noexcept {
    ::MessageBoxW(owner, text, kSetupCaption, MB_OK | MB_ICONEXCLAMATION);
}

// Process exit codes.
enum SetupExitCode : int {
    kExitFinished = 0,        // the wizard was finished
    kExitFailed = 1,          // the setup could not be done (package missing, failed check or extraction)
    kExitCancelled = 2,       // the user cancelled the wizard
    kExitAlreadyRunning = 3,  // another copy was running
};

class CSetupApp : public win::App {
public:
    CSetupApp();
    ~CSetupApp() override;

    // The main frame (the application's m_pMainWnd), nullptr before startup creates it.
    CMainFrame* MainFrame() const noexcept { return m_frame.get(); }

    // ID_APP_ABOUT -> OnAppAbout.
    bool OnCommand(UINT id) override;
    // Shows the About box modally.
    void OnAppAbout();

    // Ends the setup with `exitCode`, from any thread (the install job's
    // included): the request is posted to the running wizard, which closes on
    // the UI thread as if cancelled but without asking; InitInstance then
    // returns and wWinMain returns `exitCode`. No completion message is shown.
    // The caller must not touch the sheet, its pages or their controls after
    // the call. Without a running wizard only the exit code is recorded.
    static void EndSetup(int exitCode) noexcept;

    // The data package's file name, relative to the current folder.
    const wchar_t* m_pszDataFile;

protected:
    BOOL InitInstance() override;

private:
    std::unique_ptr<CMainFrame> m_frame;
};

// The application object (what other parts reach the frame and the sheet through).
CSetupApp* GetSetupApp() noexcept;
