#include "app/install_thread.h"

#include "app/main_frame.h"
#include "app/setup_app.h"
#include "engine/install_job.h"
#include "wizard/setup_prop_sheet.h"

namespace {

CCopyFilePropPage* FindInstallPage() noexcept {
    CSetupApp* app = GetSetupApp();
    CMainFrame* frame = app ? app->MainFrame() : nullptr;
    CSetupPropSheet* sheet = frame ? frame->m_pSheet : nullptr;
    return sheet ? &sheet->m_copyFilePage : nullptr;
}

}  // namespace

DWORD WINAPI InstallThreadProc(LPVOID) {
    CCopyFilePropPage* page = FindInstallPage();
    // Without a running wizard, or after a failed check or extraction: the wizard closes on its own
    // thread and the process ends with this code; from here on the page may be gone.
    if (!page || !RunInstallJob(*page)) CSetupApp::EndSetup(setup::kExitFailed);
    return 0;
}
