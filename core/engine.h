// The state the installation engine works on: the install page's copies of the platform kind and the
// two folders, the package name, and the ports to the system and to the page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/package.h"
#include "core/ports.h"

namespace quentaro {

// The package is read in blocks of up to this size for the check value: few enough reads that the
// check runs at the speed of the disk.
inline constexpr std::size_t kCrcBlockSize = 1024 * 1024;
// The size of the extraction's copy buffer (see core/extract.h).
inline constexpr std::size_t kCopyBufferSize = 1024 * 1024;

// The package file that the checks and the extraction share (see OpenPackage in core/checks.h).
struct HeldPackage {
    std::unique_ptr<PackageFile> file;
};

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
    // Shared by the copies of this engine: the checks and the extraction read one file.
    std::shared_ptr<HeldPackage> held = std::make_shared<HeldPackage>();
    // The sizes of the check value's read buffer and of the copy buffer: the program keeps the
    // defaults (kCrcBlockSize, kCopyBufferSize); tests and fuzz targets make them small. The copy
    // buffer always holds at least one block and a remainder.
    std::size_t crcBlockSize = kCrcBlockSize;
    std::size_t copyBufferSize = kCopyBufferSize;
};

}  // namespace quentaro
