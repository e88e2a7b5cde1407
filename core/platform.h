// Classification of the running Windows into the PlatformKind that chooses the files to install.
#pragma once

#include <cstdint>
#include <functional>

namespace quentaro {

// PlatformKind values.
constexpr int32_t kPlatformVersionUnknown = 0;   // GetVersionExW failed
constexpr int32_t kPlatformUnsupported = -1;     // Windows 9x/Me, or NT before 5.0
constexpr int32_t kPlatformWindows2000 = 1;      // NT 5.0
constexpr int32_t kPlatformWindowsXp = 2;        // NT 5.1, 5.2 (also 64-bit XP and Server 2003)
constexpr int32_t kPlatformVista32 = 3;          // NT 6.0 and later with minor version 0, 32-bit
constexpr int32_t kPlatformWow64 = 4;            // NT 6.0 and later, 32-bit setup on 64-bit Windows
constexpr int32_t kPlatformWindows7Later32 = 5;  // NT 6.x with minor version not 0, 32-bit

// dwPlatformId of VER_PLATFORM_WIN32_NT.
constexpr uint32_t kVerPlatformWin32Nt = 2;

// What GetVersionExW reported about the running Windows.
struct VersionReport {
    bool succeeded = false;  // GetVersionExW returned non-zero
    uint32_t platformId = 0;
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
};

// Returns non-zero when the process runs under WOW64. GetPlatformKind asks it only for major
// version 6 and above, so that 64-bit Windows reporting 5.2 keeps its XP classification.
using Wow64Query = std::function<int32_t()>;

int32_t GetPlatformKind(const VersionReport& version, const Wow64Query& isWow64);

// The kernel's IsWow64Process, looked up at run time: given the flag to fill, it calls the function
// for the current process. Empty when kernel32 does not export it.
using IsWow64ProcessCall = std::function<void(int32_t& wow64Flag)>;

// Non-zero when the process runs under WOW64. The call's own result is not examined: a failed call
// that leaves the flag alone answers 0, since the flag starts at 0.
int32_t IsWow64(const IsWow64ProcessCall& isWow64Process);

}  // namespace quentaro
