// The install job: the steps of the one worker thread that checks the package, extracts it, creates
// the shortcuts and turns the install page into its completed state. The job knows the page only
// through InstallJobPage; the thread procedure that finds the page and runs the job is the
// application's (app/install_thread.h).
#pragma once

#include <windows.h>

#include <string>

// Shown when the shortcut creation failed (no application file, or COM unusable).
inline constexpr wchar_t kMsgShortcutFailed[] = L"ﾃﾞｽｸﾄｯﾌﾟへｼｮｰﾄｶｯﾄの作成に失敗しました。";
// Shown when the job's thread could not be created.
inline constexpr wchar_t kMsgInstallNotStarted[] = L"ｲﾝｽﾄｰﾙを開始できません。ｾｯﾄｱｯﾌﾟを終了します。";

// Log texts; "\n" is one line feed.
inline constexpr wchar_t kLogCheckDataFile[] = L"Check Data File...";
inline constexpr wchar_t kLogCreateShortcut[] = L"\nCreate shortcut...";
inline constexpr wchar_t kLogInstalled[] = L"\nInstall successfully!";
inline constexpr wchar_t kLogInstalledWithoutShortcut[] =
    L"\nInstall successfully, but create shortcut failed! ";

// Texts of the completed install page.
inline constexpr wchar_t kCompletedTitle[] = L"インストール完了";
inline constexpr wchar_t kCompletedSubtitle[] = L"";

// What the job needs of the install page. Every call comes from the job's thread; the page makes
// each change of a control on the user-interface thread (a message sent to it) and returns when it
// is done.
class InstallJobPage {
public:
    // The engine's operations on the page's copies of the platform kind and the folders: 1 = passed
    // or done, 0 = failed after the operation's own message (ExtractFiles: or nothing to install,
    // without a message). CreateShortcuts shows no message.
    virtual int CheckSignature() = 0;
    virtual int CheckVersion() = 0;
    virtual int CheckCrc() = 0;
    virtual int ExtractFiles() = 0;
    virtual int CreateShortcuts() = 0;

    // The log (InstallLog and its view). StartLog: InstallLog becomes `text`, the view shows it.
    // AddToLog: appended to InstallLog; the view follows. SyncLog: the view shows all of
    // InstallLog when it returns. CloseLog: the view shows InstallLog followed by `closing` and is
    // no longer updated (InstallLog keeps ending before it); returns the length of the view's
    // text. ProtectLogRange: characters [start, end) of the view (end -1: to the end) become
    // protected at 9.5 points; after the range that runs to the end the caret is at the end.
    virtual void StartLog(const std::wstring& text) = 0;
    virtual void AddToLog(const std::wstring& added) = 0;
    virtual void SyncLog() = 0;
    virtual LONG CloseLog(const wchar_t* closing) = 0;
    virtual void ProtectLogRange(LONG start, LONG end) = 0;

    // The standard error box owned by the page; returns when the user has closed it.
    virtual void ShowMessage(const wchar_t* text) = 0;
    // The texts of the page's title (1018) and subtitle (1019).
    virtual void SetTitles(const wchar_t* title, const wchar_t* subtitle) = 0;
    // The sheet's Finish button (a child of the page's parent window).
    virtual HWND FinishButton() const = 0;
    // The job's last call on the page, before Finish is enabled: from then on the page may be left.
    virtual void MarkJobCompleted() noexcept = 0;

protected:
    ~InstallJobPage() = default;
};

// Runs the job on `page`: the log's first line, the checks and the extraction, "Create
// shortcut...", the shortcuts (their message when they failed), the closing line, the whole log
// protected, the completed titles; then the page is marked completed and Finish is enabled
// directly (not through PSM_SETWIZBUTTONS: its caption stays "次へ(&N)>"). True when the
// installation completed (with or without shortcuts). False when a check or the extraction failed
// (after that operation's message, or without one when nothing is to be installed): nothing more
// has been touched, and the caller ends the setup.
bool RunInstallJob(InstallJobPage& page);
