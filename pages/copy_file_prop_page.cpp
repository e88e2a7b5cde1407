#include "pages/copy_file_prop_page.h"

#include <richedit.h>

#include "core/checks.h"
#include "core/extract.h"
#include "core/folders.h"
#include "core/shortcuts.h"
#include "engine/setup_common.h"
#include "engine/win/win_ports.h"
#include "pages/dest_prop_page.h"
#include "res/resource.h"

namespace {

constexpr UINT_PTR kStartTimer = 1;
constexpr UINT kStartDelayMs = 20;
// While the job runs, the view takes what the log gained this often (20 times a second).
constexpr UINT_PTR kLogTimer = 2;
constexpr UINT kLogSyncMs = 50;

// The page's own messages, sent by the install job: each is one change of the log view, made on
// the user-interface thread from start to end.
constexpr UINT kMsgRefreshLog = WM_APP + 1;       // RefreshLogView
constexpr UINT kMsgSyncLog = WM_APP + 2;          // SyncLogView
constexpr UINT kMsgCloseLog = WM_APP + 3;         // lParam: the closing line; returns the length
constexpr UINT kMsgProtectLogRange = WM_APP + 4;  // wParam: start, lParam: end (-1: to the end)

// The format of the log's text: 9.5 points, optionally protected.
CHARFORMATW LogFormat(bool protect) {
    CHARFORMATW format{};
    format.cbSize = sizeof(format);
    format.dwMask = CFM_SIZE | (protect ? CFM_PROTECTED : 0);
    format.dwEffects = protect ? CFE_PROTECTED : 0;
    format.yHeight = CCopyFilePropPage::kLogHeightTwips;
    return format;
}

}  // namespace

CCopyFilePropPage::CCopyFilePropPage(const CDestPropPage& destPage, LPTHREAD_START_ROUTINE installThread)
    : CSetupPropPage(IDD_COPYFILE, 150, 100, {IDC_SUBTITLE}, page_look::PageLook::Others::kTemplateFont),
      m_destPage(destPage),
      m_installThread(installThread) {}

CCopyFilePropPage::~CCopyFilePropPage() = default;

void CCopyFilePropPage::DoDataExchange(win::DataExchange& dx) {
    dx.Bind(IDC_RICHEDIT, m_logView);
    dx.Text(IDC_RICHEDIT, InstallLog);
    dx.Bind(IDC_PROGRESS, m_progressBar);
}

BOOL CCopyFilePropPage::OnInitDialog() {
    CSetupPropPage::OnInitDialog();

    // The three values the engine works on, copied once from the destination page (its folder is
    // without leading white space).
    m_platformKind = m_destPage.PlatformKind();
    m_destinationFolder = m_destPage.DestinationFolder();
    m_systemFolder = m_destPage.SystemFolder();

    m_logView.SetEventMask(ENM_PROTECTED);
    ::SetTimer(Hwnd(), kStartTimer, kStartDelayMs, nullptr);
    return TRUE;
}

BOOL CCopyFilePropPage::OnSetActive() {
    // Posted: the disabled Finish button takes Next's place once the page change is done.
    ::PostMessageW(SheetHwnd(), PSM_SETWIZBUTTONS, 0, PSWIZB_DISABLEDFINISH);
    page_look::SetButtonCaption(*this, ID_WIZFINISH, page_look::kNextArrowAfter);
    page_look::ShowButton(*this, IDCANCEL, SW_HIDE);
    page_look::ShowButton(*this, ID_WIZBACK, SW_HIDE);
    return win::PropertyPage::OnSetActive();
}

BOOL CCopyFilePropPage::OnWizardFinish() {
    return IsJobCompleted() ? TRUE : FALSE;
}

BOOL CCopyFilePropPage::OnQueryCancel() {
    return IsJobCompleted() ? TRUE : FALSE;
}

LRESULT CCopyFilePropPage::OnWizardBack() {
    return -1;
}

LRESULT CCopyFilePropPage::OnWizardNext() {
    return -1;
}

BOOL CCopyFilePropPage::OnKillActive() {
    if (!IsJobCompleted()) return FALSE;
    return win::PropertyPage::OnKillActive();
}

bool CCopyFilePropPage::OnTimer(UINT_PTR id) {
    if (id == kLogTimer) {
        SyncLogView();
        return true;
    }
    if (id != kStartTimer) return false;
    ::KillTimer(Hwnd(), id);
    if (m_jobStarted) return true;
    m_jobStarted = true;
    HANDLE thread =
        m_installThread ? ::CreateThread(nullptr, 0, m_installThread, nullptr, 0, nullptr) : nullptr;
    if (!thread) {
        // Without its job the page could never be left: say so and end the setup.
        ShowMessage(kMsgInstallNotStarted);
        if (Sheet()) Sheet()->EndWizard(setup::kExitFailed);
        return true;
    }
    ::CloseHandle(thread);
    ::SetTimer(Hwnd(), kLogTimer, kLogSyncMs, nullptr);
    return true;
}

bool CCopyFilePropPage::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    switch (msg) {
    case kMsgRefreshLog:
        RefreshLogView();
        result = 0;
        return true;
    case kMsgSyncLog:
        SyncLogView();
        result = 0;
        return true;
    case kMsgCloseLog: {
        SyncLogView();
        ::KillTimer(Hwnd(), kLogTimer);
        m_logClosed = true;
        AppendToLogView(reinterpret_cast<const wchar_t*>(lp));
        GETTEXTLENGTHEX query{GTL_DEFAULT, 1200};
        result = ::SendMessageW(m_logView.Hwnd(), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&query), 0);
        return true;
    }
    case kMsgProtectLogRange: {
        const LONG end = static_cast<LONG>(lp);
        CHARFORMATW format = LogFormat(true);
        m_logView.SetSel(static_cast<LONG>(wp), end);
        m_logView.SetSelectionCharFormat(format);
        if (end == -1) m_logView.SetSel(-1, -1);
        result = 0;
        return true;
    }
    default:
        return CSetupPropPage::OnMessage(msg, wp, lp, result);
    }
}

bool CCopyFilePropPage::OnNotify(const NMHDR& header, LRESULT& result) {
    if (header.idFrom == IDC_RICHEDIT && header.code == EN_PROTECTED) {
        result = OnProtectedText();
        return true;
    }
    return CSetupPropPage::OnNotify(header, result);
}

// ---- Log operations ----------------------------------------------------------

void CCopyFilePropPage::FormatLogText() {
    m_logView.SetSel(0, -1);
    CHARFORMATW format{};
    m_logView.GetSelectionCharFormat(format);
    format.dwMask = CFM_SIZE;
    format.yHeight = kLogHeightTwips;
    m_logView.SetSelectionCharFormat(format);
}

void CCopyFilePropPage::RefreshLogView() {
    {
        win::ScopedLock lock(m_logLock);
        m_logView.SetText(InstallLog);
        m_logShown = InstallLog.size();
    }
    FormatLogText();
    m_logView.SetSel(-1, -1);
}

void CCopyFilePropPage::SyncLogView() {
    if (m_logClosed) return;
    std::wstring added;
    {
        win::ScopedLock lock(m_logLock);
        if (InstallLog.size() > m_logShown) added.assign(InstallLog, m_logShown, std::wstring::npos);
        m_logShown = InstallLog.size();
    }
    if (!added.empty()) AppendToLogView(added);
}

void CCopyFilePropPage::AppendToLogView(const std::wstring& added) {
    // The view shows InstallLog up to the append, so putting the added text at the end at 9.5
    // points leaves the view as RefreshLogView would: the same text, all of it at 9.5 points, the
    // caret at the end. Setting the whole text again would make each update cost as much as the
    // whole log. The caret goes to the end (the user may have clicked elsewhere), the format of
    // the empty selection there becomes the one the inserted text takes, and EM_REPLACESEL inserts
    // it and leaves the caret after it. EM_REPLACESEL edits a read-only control, and nothing in
    // the log is protected before the job's last step. Runs on the user-interface thread within
    // one message, so no input of the user comes between the three.
    m_logView.SetSel(-1, -1);
    CHARFORMATW format = LogFormat(false);
    m_logView.SetSelectionCharFormat(format);
    ::SendMessageW(m_logView.Hwnd(), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
}

void CCopyFilePropPage::StartLog(const std::wstring& text) {
    {
        win::ScopedLock lock(m_logLock);
        InstallLog = text;
    }
    ::SendMessageW(Hwnd(), kMsgRefreshLog, 0, 0);
}

void CCopyFilePropPage::AddToLog(const std::wstring& added) {
    win::ScopedLock lock(m_logLock);
    InstallLog += added;
}

void CCopyFilePropPage::SyncLog() {
    ::SendMessageW(Hwnd(), kMsgSyncLog, 0, 0);
}

LONG CCopyFilePropPage::CloseLog(const wchar_t* closing) {
    return static_cast<LONG>(::SendMessageW(Hwnd(), kMsgCloseLog, 0, reinterpret_cast<LPARAM>(closing)));
}

void CCopyFilePropPage::ProtectLogRange(LONG start, LONG end) {
    ::SendMessageW(Hwnd(), kMsgProtectLogRange, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
}

// ---- The engine's view of the page --------------------------------------------

void CCopyFilePropPage::ShowError(const std::u16string& text) {
    ShowMessage(quentaro::ToWide(text).c_str());
}

void CCopyFilePropPage::ShowMessage(const wchar_t* text) {
    // The view is brought up to date before the user reads the message.
    SyncLog();
    setup::ShowErrorBox(Hwnd(), text);
}

void CCopyFilePropPage::SetTitles(const wchar_t* title, const wchar_t* subtitle) {
    SetItemText(IDC_TITLE, title);
    SetItemText(IDC_SUBTITLE, subtitle);
}

HWND CCopyFilePropPage::FinishButton() const {
    return SheetItem(ID_WIZFINISH);
}

void CCopyFilePropPage::SetProgress(std::int32_t percent) {
    // The check value calls this for every byte: only changes reach the bar.
    if (percent == m_lastProgress) return;
    m_lastProgress = percent;
    m_progressBar.SetPos(percent);
}

void CCopyFilePropPage::AppendLog(const std::u16string& text) {
    AddToLog(quentaro::ToWide(text));
}

// ---- Engine operations ---------------------------------------------------------

template <class Operation>
auto CCopyFilePropPage::RunEngine(Operation operation) {
    // The system's ports for this one operation; the package file that the operations share is the
    // page's.
    quentaro::WinEnginePorts ports;
    quentaro::InstallEngine engine = ports.MakeEngine(
        *this, m_platformKind, quentaro::ToU16(m_destinationFolder), quentaro::ToU16(m_systemFolder));
    engine.packageName = quentaro::ToU16(setup::kDataFileName);
    engine.held = m_heldPackage;
    return operation(engine);
}

int CCopyFilePropPage::CheckSignature() {
    return RunEngine(&quentaro::CheckSignature);
}

int CCopyFilePropPage::CheckVersion() {
    return RunEngine(&quentaro::CheckVersion);
}

int CCopyFilePropPage::CheckCrc() {
    return RunEngine(&quentaro::CheckCrc);
}

std::uint64_t CCopyFilePropPage::GetInstallSize() {
    return RunEngine(&quentaro::GetInstallSize);
}

int CCopyFilePropPage::ExtractFiles() {
    return RunEngine(&quentaro::ExtractFiles);
}

int CCopyFilePropPage::CreateShortcuts() {
    quentaro::WinShortcutPort port;
    return quentaro::CreateShortcuts(quentaro::ToU16(m_destinationFolder), port);
}
