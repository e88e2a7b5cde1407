// CCopyFilePropPage: the install page (template 111). It shows the install job's progress bar and
// log, holds the state the installation engine works on, and offers the engine's operations to the
// install job (InstallJobPage).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "controls/percent_progress_ctrl.h"
#include "core/engine.h"
#include "core/ports.h"
#include "engine/install_job.h"
#include "pages/setup_prop_page.h"
#include "win/handles.h"
#include "win/rich_edit.h"

class CDestPropPage;

// The page is also the engine's view of the install page (quentaro::InstallUi): message boxes
// owned by the page, the progress bar and the log.
//
// Threads: the page's handlers run on the user-interface thread. Once the page's dialog is
// initialised, the install job is the only writer of InstallLog, the progress
// bar and controls 1018 and 1019; every control update is a message sent to the control, so it
// runs on the user-interface thread. The log view is changed by the page's own handlers only
// (see the log operations below). Until the job has completed, the page refuses
// every way of ending the wizard or leaving the page (Finish, Cancel, Escape, close, Back), so the
// job never meets a destroyed page. A failed job ends the setup.
class CCopyFilePropPage : public CSetupPropPage, public InstallJobPage, public quentaro::InstallUi {
public:
    // `destPage`: the page whose platform kind and folders this page copies when its dialog is
    // initialised (read only then). `installThread`: the install job's thread
    // procedure, started once 20 ms after the dialog is initialised (no parameter).
    CCopyFilePropPage(const CDestPropPage& destPage, LPTHREAD_START_ROUTINE installThread);
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

    // InstallJobPage's log operations (job thread; see engine/install_job.h). StartLog refreshes the
    // view (RefreshLogView).
    void StartLog(const std::wstring& text) override;
    void AddToLog(const std::wstring& added) override;
    void SyncLog() override;
    LONG CloseLog(const wchar_t* closing) override;
    void ProtectLogRange(LONG start, LONG end) override;

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
    int CheckSignature() override;
    int CheckVersion() override;
    int CheckCrc() override;
    std::uint64_t GetInstallSize();
    int ExtractFiles() override;
    // 1 when "QUENTARO.exe" was found in the destination folder (whether or not the links were
    // written), 0 when COM or the link object failed or the application is missing; no message.
    int CreateShortcuts() override;

    // InstallJobPage: the standard error box owned by the page, the titles 1018 and 1019, the
    // sheet's Finish button, and the completion (job thread).
    void ShowMessage(const wchar_t* text) override;
    void SetTitles(const wchar_t* title, const wchar_t* subtitle) override;
    HWND FinishButton() const override;
    void MarkJobCompleted() noexcept override { m_jobCompleted = true; }

    // Whether the install job has completed (Finish enabled). Any thread.
    bool IsJobCompleted() const noexcept { return m_jobCompleted.load(); }

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
    bool OnNotify(const NMHDR& header, LRESULT& result) override;

private:
    // EN_PROTECTED from the log view: 1 refuses every change of protected text.
    LRESULT OnProtectedText() const noexcept { return 1; }
    // Runs one engine operation over the system's ports on the page's copies and shared package.
    template <class Operation>
    auto RunEngine(Operation operation);

    const CDestPropPage& m_destPage;
    LPTHREAD_START_ROUTINE m_installThread;
    win::RichEdit m_logView;
    std::wstring InstallLog;  // guarded by m_logLock while the job runs
    win::CriticalSection m_logLock;
    std::size_t m_logShown = 0;  // UI thread: how much of InstallLog the view shows
    bool m_logClosed = false;    // UI thread: the closing line is in the view
    CPercentProgressCtrl m_progressBar;
    std::int32_t m_platformKind = 0;
    std::wstring m_destinationFolder;
    std::wstring m_systemFolder;
    // The package as the checks opened it, kept open for the extraction (job thread; see
    // quentaro::OpenPackage).
    std::shared_ptr<quentaro::HeldPackage> m_heldPackage = std::make_shared<quentaro::HeldPackage>();

    std::atomic<bool> m_jobCompleted{false};
    bool m_jobStarted = false;                // UI thread
    std::int32_t m_lastProgress = INT32_MIN;  // job thread: the last value given to the bar
};
