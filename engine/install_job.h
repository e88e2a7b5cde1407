// The install job: the one worker thread that checks the package, extracts it, creates the
// shortcuts and turns the install page into its completed state.
#pragma once

#include <windows.h>

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

// The thread procedure, started once by the install page (CreateThread, no parameter). It reaches
// the page through the application's main window, its running sheet and the sheet's install
// page. When a check or the extraction fails (after that operation's message, or without one when
// nothing is to be installed) it ends the setup with exit code 1 through CSetupApp::EndSetup and
// touches nothing more. Otherwise it completes the page and, as its last act, enables Finish.
// Always returns 0.
DWORD WINAPI InstallThreadProc(LPVOID parameter);
