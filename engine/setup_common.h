// What every Windows layer of the setup shares: the data package's file name, the process exit
// codes, the caption of the setup's message boxes and the standard error box.
#pragma once

#include <windows.h>

#include <cstddef>

#include "core/package.h"

namespace setup {

// The data package, relative to the current folder: the name the core's engine opens.
inline constexpr wchar_t kDataFileName[] = L"QUENTARO.cab";

namespace detail {
template <std::size_t N, std::size_t M>
constexpr bool SameText(const wchar_t (&a)[N], const char16_t (&b)[M]) {
    if (N != M) return false;
    for (std::size_t i = 0; i < N; ++i) {
        if (static_cast<char16_t>(a[i]) != b[i]) return false;
    }
    return true;
}
}  // namespace detail
static_assert(detail::SameText(kDataFileName, quentaro::kPackageFileName), "one name for the package");

// Process exit codes.
enum ExitCode : int {
    kExitFinished = 0,        // the wizard was finished
    kExitFailed = 1,          // the setup could not be done (package missing, failed check or extraction)
    kExitCancelled = 2,       // the user cancelled the wizard
    kExitAlreadyRunning = 3,  // another copy was running
};

// The caption of the setup's message boxes (all but the cancel confirmation).
inline constexpr wchar_t kSetupCaption[] = L"QUENTARO ｾｯﾄｱｯﾌﾟ";

// The standard error box: owned by `owner`, the setup's caption, the exclamation icon and one OK
// button (MB_OK | MB_ICONEXCLAMATION, 0x30). Returns when the user has closed it.
inline void ShowErrorBox(HWND owner, const wchar_t* text) noexcept {
    ::MessageBoxW(owner, text, kSetupCaption, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace setup
