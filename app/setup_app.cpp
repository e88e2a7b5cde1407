#include "app/setup_app.h"

#include <shellapi.h>

#include "app/about_box.h"
#include "app/install_thread.h"
#include "app/main_frame.h"
#include "win/file.h"
#include "win/system.h"
#include "res/resource.h"
#include "wizard/setup_prop_sheet.h"

namespace {

const wchar_t kPackageMissing[] = L"ﾃﾞｰﾀﾌｧｲﾙが見つかりません。ｾｯﾄｱｯﾌﾟを開始出来ません。";
const wchar_t kCompleted[] = L" QUENTAROのｾｯﾄｱｯﾌﾟが完了しました。";

}  // namespace

// The one application object.
static CSetupApp theApp;

CSetupApp* GetSetupApp() noexcept {
    return &theApp;
}

CSetupApp::CSetupApp() : m_pszDataFile(setup::kDataFileName) {}

CSetupApp::~CSetupApp() = default;

bool CSetupApp::OnCommand(UINT id) {
    if (id != ID_APP_ABOUT) return false;
    OnAppAbout();
    return true;
}

void CSetupApp::OnAppAbout() {
    CAboutBox about;
    about.DoModal();
}

void CSetupApp::EndSetup(int exitCode) noexcept {
    CSetupApp* app = GetSetupApp();
    app->SetExitCode(exitCode);
    CMainFrame* frame = app->MainFrame();
    if (frame && frame->m_pSheet) frame->m_pSheet->EndWizard(exitCode);
}

BOOL CSetupApp::InitInstance() {
    // The rich edit 2.0 classes ("RICHEDIT20W") for the licence, copyright and
    // install pages. From the system folder only: a setup often starts from a
    // folder that others can write to. Kept loaded; a failure shows later as
    // pages without their text control.
    win::LoadSystemLibrary(L"RICHED20.dll");

    // One copy at a time. The handle stays open, unstored, until the process
    // ends. If the mutex cannot be created at all, go on as the only copy.
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, L"quentaro");
    if (mutex && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        SetExitCode(setup::kExitAlreadyRunning);
        return FALSE;
    }

    m_frame = std::make_unique<CMainFrame>();
    m_pMainWnd = m_frame.get();
    if (!m_frame->LoadFrame(IDR_MAINFRAME, WS_OVERLAPPEDWINDOW, nullptr)) {
        SetExitCode(setup::kExitFailed);
        return FALSE;
    }
    HWND frame = m_frame->Hwnd();
    // The frame is never shown; it owns the message boxes and the wizard.
    ::ShowWindow(frame, SW_HIDE);
    ::UpdateWindow(frame);
    ::DragAcceptFiles(frame, FALSE);

    // Only whether the package can be opened (without sharing) is tested here.
    win::File package;
    if (!package.Open(m_pszDataFile, win::File::Mode::kRead)) {
        setup::ShowErrorBox(frame, kPackageMissing);
        SetExitCode(setup::kExitFailed);
        return FALSE;
    }
    package.Close();

    CSetupPropSheet sheet(L"QUENTARO", nullptr, 0, &InstallThreadProc);
    m_frame->m_pSheet = &sheet;
    sheet.Header().dwFlags |= PSH_WIZARD;
    INT_PTR result = sheet.DoModal();

    if (sheet.EndRequested()) {
        SetExitCode(sheet.EndCode());
    } else if (result == ID_WIZFINISH) {
        ::MessageBoxW(frame, kCompleted, setup::kSetupCaption, MB_OK);  // no icon
        SetExitCode(setup::kExitFinished);
    } else if (result == IDCANCEL) {
        SetExitCode(setup::kExitCancelled);
    } else {
        SetExitCode(setup::kExitFailed);
    }
    m_frame->m_pSheet = nullptr;
    return FALSE;
}
