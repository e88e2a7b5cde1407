// The state the installation engine works on: the install page's copies of the platform kind and the
// two folders, the package name, and the ports to the system and to the page.
#ifndef QUENTARO_CORE_ENGINE_H
#define QUENTARO_CORE_ENGINE_H

#include <cstdint>
#include <string>

#include "core/package.h"
#include "core/ports.h"

namespace quentaro {

struct InstallEngine {
    PackageStore& package;
    InstallUi& ui;
    TargetFileSystem& files;
    NameDecoder& names;
    LocalClock& clock;
    Shell& shell;
    std::int32_t platformKind = 0;
    std::u16string destinationFolder;  // leading white space already removed
    std::u16string systemFolder;       // as GetSystemDirectoryW gives it
    std::u16string packageName = kPackageFileName;
};

}  // namespace quentaro

#endif  // QUENTARO_CORE_ENGINE_H
