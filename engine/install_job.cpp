#include "engine/install_job.h"

#include <richedit.h>

#include <string>

#include "app/main_frame.h"
#include "app/setup_app.h"
#include "pages/copy_file_prop_page.h"
#include "res/resource.h"
#include "wizard/setup_prop_sheet.h"

namespace {

CCopyFilePropPage* FindInstallPage() noexcept {
    CSetupApp* app = GetSetupApp();
    CMainFrame* frame = app ? app->MainFrame() : nullptr;
    CSetupPropSheet* sheet = frame ? frame->m_pSheet : nullptr;
    return sheet ? &sheet->m_copyFilePage : nullptr;
}

// Protects the whole text of the log view (`length` characters) at 9.5 points. The text of a
// package of many files is long, and one EM_SETCHARFORMAT over all of it keeps the user-interface
// thread busy for as long as it takes; in ranges of kProtectRange characters, each one message to
// the page, the thread answers other messages (painting, the user) between two of them. The last
// range runs to the end (-1), as a selection of all would, and leaves the caret at the end.
void ProtectWholeLog(CCopyFilePropPage& page, LONG length) noexcept {
    constexpr LONG kProtectRange = 16384;
    LONG start = 0;
    while (length - start > kProtectRange) {
        page.ProtectLogRange(start, start + kProtectRange);
        start += kProtectRange;
    }
    page.ProtectLogRange(start, -1);
}

}  // namespace

// The job's steps on the page (a friend of the page).
class InstallJob {
public:
    // Steps 2 to 9: true when the installation completed (shortcuts or not), false when a check or
    // the extraction failed. Every control update is a message sent to the control or the page, so
    // it runs on the user-interface thread while this thread waits.
    static bool Run(CCopyFilePropPage& page);
    static void Complete(CCopyFilePropPage& page) noexcept { page.MarkJobCompleted(); }
};

bool InstallJob::Run(CCopyFilePropPage& page) {
    page.StartLog(kLogCheckDataFile);

    if (!page.CheckSignature() || !page.CheckVersion() || !page.CheckCrc() || !page.ExtractFiles())
        return false;

    page.AddToLog(kLogCreateShortcut);
    page.SyncLog();

    const wchar_t* closing = kLogInstalled;
    if (!page.CreateShortcuts()) {
        ShowErrorBox(page.Hwnd(), kMsgShortcutFailed);
        closing = kLogInstalledWithoutShortcut;
    }

    // The closing line goes into the view only; InstallLog keeps ending with "Create shortcut...".
    // Then all of the view's text is protected.
    ProtectWholeLog(page, page.CloseLog(closing));

    page.SetItemText(IDC_TITLE, kCompletedTitle);
    page.SetItemText(IDC_SUBTITLE, kCompletedSubtitle);
    return true;
}

DWORD WINAPI InstallThreadProc(LPVOID) {
    CCopyFilePropPage* page = FindInstallPage();
    if (!page) {  // no running wizard to work in
        CSetupApp::EndSetup(kExitFailed);
        return 0;
    }
    // Finish is a child of the sheet, the page's parent window.
    HWND finish = page->SheetItem(ID_WIZFINISH);

    if (!InstallJob::Run(*page)) {
        // The wizard closes on its own thread and the process ends with this code; from here on
        // the page may be gone.
        CSetupApp::EndSetup(kExitFailed);
        return 0;
    }

    // From here on Finish, Cancel and closing are accepted, and the page may be gone at any moment:
    // only the button's handle, a plain value, is used. Enabled directly, not through
    // PSM_SETWIZBUTTONS: its caption stays "次へ(&N)>".
    InstallJob::Complete(*page);
    ::EnableWindow(finish, TRUE);
    return 0;
}
