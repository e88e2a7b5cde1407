// Ports held in memory, for the programs that run the engine away from Windows: the unit tests, the
// benchmarks and the package tool. A package of bytes in memory, an install page, target folders
// and a shell that keep nothing and count what they are given, names decoded byte by byte and a
// clock a fixed offset from UTC. The setup program never links them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/package.h"
#include "core/ports.h"

namespace quentaro::memory {

// The package as bytes in memory, read in place: every open is the same file.
class MemoryPackageStore : public PackageStore {
public:
    explicit MemoryPackageStore(std::vector<std::uint8_t> image = {}) : bytes(std::move(image)) {}
    std::unique_ptr<PackageFile> Open(const std::u16string& name) override;

    std::vector<std::uint8_t> bytes;
};

// An install page that shows nothing and counts what it is told. A progress value counts as a
// change when it differs from the one before, the only values the page forwards to its bar.
class CountingUi : public InstallUi {
public:
    void ShowError(const std::u16string& text) override;
    void SetProgress(std::int32_t percent) override;
    void AppendLog(const std::u16string& text) override;

    std::uint64_t errors = 0;
    std::uint64_t progressCalls = 0;
    std::uint64_t progressChanges = 0;
    std::int32_t lastProgress = -1;
    std::uint64_t loggedCharacters = 0;
};

// Target folders that keep no bytes: every file can be created, written, closed, given its times
// and its name. Counts the files created and the bytes written, and tells `onCommit`, when set, the
// path and size of each file as it takes its name.
class CountingFileSystem : public TargetFileSystem {
public:
    using CommitListener = std::function<void(const std::u16string& path, std::uint64_t size)>;
    std::unique_ptr<TargetFile> Create(const std::u16string& path) override;

    std::uint64_t files = 0;
    std::uint64_t bytesWritten = 0;
    CommitListener onCommit;
};

// A shell under which every program starts, and has ended when RunAndWait returns.
class NullShell : public Shell {
public:
    bool RunAndWait(const std::u16string& program, const std::u16string& parameters,
                    const std::u16string& folder) override;
};

// Every byte is the character of the same value (code page 1252 for ASCII names, roughly).
class ByteDecoder : public NameDecoder {
public:
    std::u16string DecodeAnsi(const std::uint8_t* bytes, std::size_t count) override;
};

// Local time is UTC plus a fixed offset.
class FixedOffsetClock : public LocalClock {
public:
    explicit FixedOffsetClock(std::int64_t offsetSeconds = 0) : offset(offsetSeconds) {}
    bool LocalToUtc(const LocalTime& local, std::int64_t& utcSeconds) override;

    std::int64_t offset;  // seconds that local time is ahead of UTC
};

}  // namespace quentaro::memory
