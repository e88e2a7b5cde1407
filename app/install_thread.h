// The install job's thread procedure.
#pragma once

#include <windows.h>

// Started once by the install page (CreateThread, no parameter). It reaches the page through the
// application's main window, its running sheet and the sheet's install page, and runs the install
// job there (RunInstallJob). When a check or the extraction fails it ends the setup with exit code
// 1 through CSetupApp::EndSetup and touches nothing more; so it does when no wizard is running.
// Always returns 0.
DWORD WINAPI InstallThreadProc(LPVOID parameter);
