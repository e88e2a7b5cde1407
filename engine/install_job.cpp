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

// Applies `format` to the whole text of the log view. The text of a package of many files is long,
// and one EM_SETCHARFORMAT over all of it keeps the user-interface thread busy for as long as it
// takes; in ranges of kProtectRange characters the thread answers other messages (painting, the
// user) between two of them. The last range runs to the end (-1), as a selection of all would.
void ProtectWholeLog(const win::RichEdit& log, CHARFORMATW& format) noexcept {
    constexpr LONG kProtectRange = 16384;
    GETTEXTLENGTHEX query{GTL_DEFAULT, 1200};
    const LRESULT length =
        ::SendMessageW(log.Hwnd(), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&query), 0);
    LONG start = 0;
    while (length - start > kProtectRange) {
        log.SetSel(start, start + kProtectRange);
        log.SetSelectionCharFormat(format);
        start += kProtectRange;
    }
    log.SetSel(start, -1);
    log.SetSelectionCharFormat(format);
}

}  // namespace

// The job's steps on the page (a friend of the page).
class InstallJob {
public:
    // Steps 2 to 9: true when the installation completed (shortcuts or not), false when a check or
    // the extraction failed. Every control update is a message sent to the control, so it runs on
    // the user-interface thread while this thread waits.
    static bool Run(CCopyFilePropPage& page);
    static void Complete(CCopyFilePropPage& page) noexcept { page.MarkJobCompleted(); }
};

bool InstallJob::Run(CCopyFilePropPage& page) {
    page.InstallLog = kLogCheckDataFile;
    page.RefreshLogView();

    if (!page.CheckSignature() || !page.CheckVersion() || !page.CheckCrc() || !page.ExtractFiles())
        return false;

    page.InstallLog += kLogCreateShortcut;
    page.AppendToLogView(kLogCreateShortcut);

    const wchar_t* closing = kLogInstalled;
    if (!page.CreateShortcuts()) {
        ShowErrorBox(page.Hwnd(), kMsgShortcutFailed);
        closing = kLogInstalledWithoutShortcut;
    }

    // The closing line goes into the view only; InstallLog keeps ending with "Create shortcut...".
    // The view shows InstallLog already: the line is appended rather than the whole text set again,
    // which costs as much as the whole log on a package of many files. Then all of it is protected.
    page.AppendToLogView(closing);
    page.m_ctrlLog.SetSel(0, -1);
    CHARFORMATW format{};
    page.m_ctrlLog.GetSelectionCharFormat(format);
    format.dwMask = CFM_SIZE | CFM_PROTECTED;
    format.dwEffects = CFE_PROTECTED;
    format.yHeight = CCopyFilePropPage::kLogHeightTwips;
    ProtectWholeLog(page.m_ctrlLog, format);
    page.m_ctrlLog.SetSel(-1, -1);

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
