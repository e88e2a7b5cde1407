// Extraction of the package: every entry that suits the running platform is written to its folder,
// with its stored time stamp; on PlatformKind 5 the driver installer runs after the last entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/engine.h"
#include "core/messages.h"

namespace quentaro {

// Entries are copied in steps of this size: the bar moves after each block and after the remainder.
inline constexpr std::uint32_t kCopyBlockSize = 260;
// The bytes themselves travel through one buffer (InstallEngine::copyBufferSize, kCopyBufferSize in
// the program), as many whole blocks as fit with room for a remainder, in one read from the package
// and one write to the file: BlocksPerChunk of them, at least one (a smaller buffer is enlarged).
constexpr std::uint32_t BlocksPerChunk(std::size_t bufferSize) {
    return bufferSize < 2 * kCopyBlockSize - 1
               ? 1
               : static_cast<std::uint32_t>((bufferSize - (kCopyBlockSize - 1)) / kCopyBlockSize);
}
inline constexpr std::uint32_t kBlocksPerChunk = BlocksPerChunk(kCopyBufferSize);
// Started from the destination folder, after the last entry, on PlatformKind 5.
inline constexpr char16_t kDriverInstallerName[] = u"QuentaroDriver32setup.exe";
inline constexpr char16_t kDriverInstallerParameters[] = u"Quentaro.inf";
inline constexpr std::int32_t kDriverPlatformKind = 5;

// Sets the six numbers from the 16 bytes of a TimeStamp (see ScanTimeStamp); a number that cannot be
// scanned leaves its variable as it was. Always returns 1.
int ParseTimeStamp(const std::uint8_t* text, std::int32_t& year, std::int32_t& month, std::int32_t& day,
                   std::int32_t& hour, std::int32_t& minute, std::int32_t& second);

// The install log line announcing a file: "\nCreate \"<name>\"...".
std::u16string CreateLogLine(const std::u16string& fileName);

// Sets `total` to the sum of DataSize over the entries that go to the destination folder. Fails (with
// `total` 0) when the package cannot be opened or read, or its entry table lies outside it.
InstallError MeasureInstallSize(const InstallEngine& engine, std::uint64_t& total);
// The install page's operation: the sum, or 0 after showing the failure's message.
std::uint64_t GetInstallSize(const InstallEngine& engine);

// Writes the selected entries; kNone when the pass completed. Fails when the package cannot be
// opened or read, breaks the limits of its format (checked for the whole table before the first file
// is written), a file cannot be created, written, closed or given its times, or the driver installer
// cannot be started; kNothingToInstall when nothing goes to the destination folder. The package is
// closed on every way out.
InstallError ExtractPackage(const InstallEngine& engine);
// The install page's operation: 1 when the pass completed; 0 after showing the failure's message, or
// without a message when nothing goes to the destination folder.
int ExtractFiles(const InstallEngine& engine);

}  // namespace quentaro
