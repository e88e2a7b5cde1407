// CSetupApp: the application object of QUENTARO Setup.
#pragma once

#include <windows.h>

#include <memory>

#include "engine/setup_common.h"
#include "win/app.h"

class CMainFrame;

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

    // The data package's file name, relative to the current folder (setup::kDataFileName).
    const wchar_t* m_pszDataFile;

protected:
    BOOL InitInstance() override;

private:
    std::unique_ptr<CMainFrame> m_frame;
};

// The application object (what other parts reach the frame and the sheet through).
CSetupApp* GetSetupApp() noexcept;
