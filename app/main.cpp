// Entry point of QUENTARO Setup.
#include <windows.h>

#include "win/app.h"
#include "win/system.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // Before anything can load a DLL on demand: no DLL from the program's
    // folder or the current folder.
    win::RestrictDllSearchToSystemFolder();
    return win::App::Current()->Run(instance, showCommand);
}
