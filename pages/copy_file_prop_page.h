// CCopyFilePropPage: the install page (template 111). It shows the install job's progress bar and
// log, holds the state the installation engine works on, and offers the engine's operations.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "win/handles.h"
#include "win/property_sheet.h"
#include "win/rich_edit.h"
#include "controls/percent_progress_ctrl.h"
#include "core/engine.h"
#include "core/ports.h"
#include "wizard/page_look.h"

class InstallJob;

// The page is also the engine's view of the install page (quentaro::InstallUi): message boxes
// owned by the page, the progress bar and the log.
//
// Threads: the page's handlers run on the user-interface thread. Once the page's dialog is
// initialised, the install job (InstallThreadProc) is the only writer of InstallLog, the progress
// bar and controls 1018 and 1019; every control update is a message sent to the control, so it
// runs on the user-interface thread. The log view is changed by the page's own handlers only
// (see the log operations below). Until the job has completed, the page refuses
// every way of ending the wizard or leaving the page (Finish, Cancel, Escape, close, Back), so the
// job never meets a destroyed page. A failed job ends the setup through CSetupApp::EndSetup.
class CCopyFilePropPage : public win::PropertyPage, public quentaro::InstallUi {
public:
    CCopyFilePropPage();
    ~CCopyFilePropPage() override;

    // The log view's character height: 9.5 points.
    static constexpr LONG kLogHeightTwips = 190;

    // The log. InstallLog is written by the install job (job thread) under a lock; the view is
    // changed on the user-interface thread alone, and each change is one message handled there
    // from start to end, so that nothing the user does in the view (a click, a selection, a drag)
    // comes between moving the caret, setting the format and inserting. While the job runs, the
    // view takes what InstallLog gained every kLogSyncMs (lines are gathered: a line costs the job
    // a string append); before a message and at the end the job brings it up to date at once. At
    // every moment the view shows a beginning of InstallLog (and, at the end, the closing line).

    // Job thread: InstallLog becomes `text` and the view shows it (RefreshLogView).
    void StartLog(const std::wstring& text);
    // Job thread: appends to InstallLog; the view follows.
    void AddToLog(const std::wstring& added);
    // Job thread: the view shows all of InstallLog when this returns.
    void SyncLog();
    // Job thread: the view shows all of InstallLog followed by `closing` (InstallLog keeps ending
    // before it) and is no longer updated from InstallLog. Returns the length of the view's text.
    LONG CloseLog(const wchar_t* closing);
    // Job thread: characters [start, end) of the view (end -1: to the end) become protected at 9.5
    // points; after the range that runs to the end the caret is put at the end.
    void ProtectLogRange(LONG start, LONG end);

    // User-interface thread. FormatLogText: the whole text at 190 twips (9.5 points); the selection
    // is left on all of it. RefreshLogView: the view's text becomes InstallLog, formatted, with the
    // caret at the end. AppendToLogView: `added` appended to the view at 9.5 points, at the cost of
    // the added text alone, the caret at the end. SyncLogView: appends what InstallLog gained.
    void FormatLogText();
    void RefreshLogView();
    void AppendToLogView(const std::wstring& added);
    void SyncLogView();

    // Engine operations on the page's state (job thread). 1 = passed/done, 0 = failed after the
    // operation's own message (ExtractFiles: or nothing to install, without a message).
    int CheckSignature();
    int CheckVersion();
    int CheckCrc();
    std::uint64_t GetInstallSize();
    int ExtractFiles();
    // 1 when "QUENTARO.exe" was found in the destination folder (whether or not the links were
    // written), 0 when COM or the link object failed or the application is missing; no message.
    int CreateShortcuts();

    // Whether the install job has completed (Finish enabled). Any thread.
    bool IsJobCompleted() const noexcept { return m_bJobCompleted.load(); }

    // quentaro::InstallUi (job thread). AppendLog appends to InstallLog (the view follows);
    // ShowError brings the view up to date before the message.
    void ShowError(const std::u16string& text) override;
    void SetProgress(std::int32_t percent) override;
    void AppendLog(const std::u16string& text) override;

protected:
    void DoDataExchange(win::DataExchange& dx) override;
    BOOL OnInitDialog() override;
    BOOL OnSetActive() override;
    // Refused until the job has completed (Wine delivers Finish even while the button is disabled).
    BOOL OnWizardFinish() override;
    // Cancel, Escape and closing the sheet: refused until the job has completed; afterwards the
    // framework's default (allowed, without asking).
    BOOL OnQueryCancel() override;
    // The page is the last one and there is no way back from it.
    LRESULT OnWizardBack() override;
    LRESULT OnWizardNext() override;
    // The page is not left while the job runs (and its log is not read back meanwhile).
    BOOL OnKillActive() override;
    bool OnTimer(UINT_PTR id) override;
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT type) override;
    bool OnNotify(const NMHDR& header, LRESULT& result) override;

private:
    friend class InstallJob;  // the install job (engine/install_job.cpp)

    // EN_PROTECTED from the log view: 1 refuses every change of protected text.
    LRESULT OnProtectedText() const noexcept { return 1; }
    // Called by the job at its very end, before Finish is enabled.
    void MarkJobCompleted() noexcept { m_bJobCompleted = true; }

    win::RichEdit m_ctrlLog;
    std::wstring InstallLog;  // guarded by m_logLock while the job runs
    win::CriticalSection m_logLock;
    std::size_t m_nLogShown = 0;  // UI thread: how much of InstallLog the view shows
    bool m_bLogClosed = false;    // UI thread: the closing line is in the view
    page_look::PageLook m_look;   // title font (1018) and body font (1019)
    CPercentProgressCtrl m_ctrlProgress;
    std::int32_t m_nPlatformKind = 0;
    std::wstring m_strDestFolder;
    std::wstring m_strSystemFolder;
    // The package as the checks opened it, kept open for the extraction (job thread; see
    // quentaro::OpenPackage).
    std::shared_ptr<quentaro::HeldPackage> m_heldPackage = std::make_shared<quentaro::HeldPackage>();

    std::atomic<bool> m_bJobCompleted{false};
    bool m_bJobStarted = false;                // UI thread
    std::int32_t m_nLastProgress = INT32_MIN;  // job thread: the last value given to the bar
};
