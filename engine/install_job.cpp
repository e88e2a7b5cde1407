#include "engine/install_job.h"

namespace {

// Protects the whole text of the log view (`length` characters) at 9.5 points. The text of a
// package of many files is long, and one EM_SETCHARFORMAT over all of it keeps the user-interface
// thread busy for as long as it takes; in ranges of kProtectRange characters, each one message to
// the page, the thread answers other messages (painting, the user) between two of them. The last
// range runs to the end (-1), as a selection of all would, and leaves the caret at the end.
void ProtectWholeLog(InstallJobPage& page, LONG length) {
    constexpr LONG kProtectRange = 16384;
    LONG start = 0;
    while (length - start > kProtectRange) {
        page.ProtectLogRange(start, start + kProtectRange);
        start += kProtectRange;
    }
    page.ProtectLogRange(start, -1);
}

}  // namespace

bool RunInstallJob(InstallJobPage& page) {
    // Taken first: once the job has completed, the page may be gone at any moment and only the
    // button's handle, a plain value, is used.
    HWND finish = page.FinishButton();

    page.StartLog(kLogCheckDataFile);
    if (!page.CheckSignature() || !page.CheckVersion() || !page.CheckCrc() || !page.ExtractFiles())
        return false;

    page.AddToLog(kLogCreateShortcut);
    page.SyncLog();

    const wchar_t* closing = kLogInstalled;
    if (!page.CreateShortcuts()) {
        page.ShowMessage(kMsgShortcutFailed);
        closing = kLogInstalledWithoutShortcut;
    }

    // The closing line goes into the view only; InstallLog keeps ending with "Create shortcut...".
    // Then all of the view's text is protected.
    ProtectWholeLog(page, page.CloseLog(closing));
    page.SetTitles(kCompletedTitle, kCompletedSubtitle);

    // From here on Finish, Cancel and closing are accepted.
    page.MarkJobCompleted();
    ::EnableWindow(finish, TRUE);
    return true;
}
