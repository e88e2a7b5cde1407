#include "core/platform.h"

namespace quentaro {

int32_t GetPlatformKind(const VersionReport& version, const Wow64Query& isWow64) {
    if (!version.succeeded) return kPlatformVersionUnknown;
    if (version.platformId != kVerPlatformWin32Nt) return kPlatformUnsupported;
    if (version.majorVersion == 5) {
        return version.minorVersion == 0 ? kPlatformWindows2000 : kPlatformWindowsXp;
    }
    if (version.majorVersion < 5) return kPlatformUnsupported;
    if (isWow64 && isWow64() != 0) return kPlatformWow64;
    return version.minorVersion != 0 ? kPlatformWindows7Later32 : kPlatformVista32;
}

int32_t IsWow64(const IsWow64ProcessCall& isWow64Process) {
    if (!isWow64Process) return 0;
    int32_t wow64Flag = 0;
    isWow64Process(wow64Flag);
    return wow64Flag;
}

}  // namespace quentaro
