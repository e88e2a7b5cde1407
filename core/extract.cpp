#include "core/extract.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "core/checks.h"
#include "core/progress.h"

namespace quentaro {

namespace {

// Reads entry records in table order through a buffer of a few hundred records, so that a table of
// many entries costs few reads.
class TableReader {
public:
    TableReader(PackageFile& file, std::uint32_t count) : m_file(file), m_count(count) {}

    bool Read(std::uint32_t index, PackageEntry& entry) {
        if (index >= m_count) return false;
        if (!m_valid || index < m_first || index - m_first >= m_loaded) {
            if (!Load(index)) return false;
        }
        entry = ReadPackageEntry(m_buffer.data() + std::size_t{index - m_first} * kPackageEntrySize);
        return true;
    }

private:
    static constexpr std::uint32_t kRecords = 256;

    bool Load(std::uint32_t first) {
        m_valid = false;
        const std::uint32_t left = m_count - first;
        const std::uint32_t records = left < kRecords ? left : kRecords;
        const std::size_t bytes = std::size_t{records} * kPackageEntrySize;
        m_buffer.resize(bytes);
        if (!m_file.Seek(EntryRecordOffset(first))) return false;
        const ReadResult read = ReadFully(m_file, m_buffer.data(), bytes);
        if (read.ioError || read.count != bytes) return false;
        m_first = first;
        m_loaded = records;
        m_valid = true;
        return true;
    }

    PackageFile& m_file;
    std::uint32_t m_count;
    std::uint32_t m_first = 0;
    std::uint32_t m_loaded = 0;
    bool m_valid = false;
    std::vector<std::uint8_t> m_buffer;
};

InstallError ErrorOf(WriteStatus status) {
    return status == WriteStatus::kDiskFull ? InstallError::kDiskFull : InstallError::kFileWriteFailed;
}

// Reads the header of the open package and checks its length and table limits.
InstallError ReadHeader(PackageFile& file, PackageHeader& header) {
    std::array<std::uint8_t, kPackageHeaderSize> bytes{};
    if (!ReadZeroPadded(file, 0, bytes.data(), bytes.size())) return InstallError::kDataFileReadFailed;
    header = ReadPackageHeader(bytes.data());
    if (!CheckPackageTable(file.Size(), header).ok()) return InstallError::kDataFileDamaged;
    return InstallError::kNone;
}

// Reads the header and sums the sizes of the entries for the destination folder, in 64 bits:
// entries may share data.
InstallError SumSelectedSizes(PackageFile& file, std::int32_t platformKind, PackageHeader& header,
                              std::uint64_t& total) {
    total = 0;
    const InstallError error = ReadHeader(file, header);
    if (error != InstallError::kNone) return error;
    TableReader table(file, header.entryCount);
    PackageEntry entry;
    for (std::uint32_t i = 0; i < header.entryCount; ++i) {
        if (!table.Read(i, entry)) return InstallError::kDataFileReadFailed;
        if (SelectDestination(entry.target, platformKind) == Destination::kDestinationFolder) {
            total += entry.dataSize;
        }
    }
    return InstallError::kNone;
}

// Checks the whole table before the first file is written: a package outside its format installs
// nothing.
InstallError ValidateTable(const InstallEngine& engine, PackageFile& package, const PackageHeader& header,
                           TableReader& table) {
    const EntryReader readEntry = [&table](std::uint32_t index, PackageEntry& entry) {
        return table.Read(index, entry);
    };
    const PackageCheck check =
        ValidatePackage(package.Size(), header, readEntry, engine.platformKind, engine.names, engine.clock);
    if (check.fault == PackageFault::kReadFailed) return InstallError::kDataFileReadFailed;
    if (!check.ok()) return InstallError::kDataFileDamaged;
    return InstallError::kNone;
}

// The copy buffer: as many whole blocks as the engine's buffer size allows (at least one), with
// room for a remainder.
struct CopyBuffer {
    explicit CopyBuffer(std::size_t size)
        : blocksPerChunk(BlocksPerChunk(size)),
          bytes(std::max(size, std::size_t{blocksPerChunk} * kCopyBlockSize + (kCopyBlockSize - 1))) {}
    std::uint32_t blocksPerChunk;
    std::vector<std::uint8_t> bytes;
};

// The second half of the bar: the bytes copied of those for the destination folder.
class ExtractionBar {
public:
    ExtractionBar(InstallUi& ui, std::uint64_t total) : m_ui(ui), m_total(total) {}
    void Advance(std::uint64_t bytes) {
        m_done += bytes;
        m_ui.SetProgress(ExtractionProgress(m_done, m_total));
    }

private:
    InstallUi& m_ui;
    std::uint64_t m_total;
    std::uint64_t m_done = 0;
};

// Announces the entry's file in the log and starts it under a temporary name in its folder; null
// when it cannot be created.
std::unique_ptr<TargetFile> OpenTarget(const InstallEngine& engine, const EntryPlan& plan) {
    const std::u16string& folder =
        plan.destination == Destination::kSystemFolder ? engine.systemFolder : engine.destinationFolder;
    engine.ui.AppendLog(CreateLogLine(plan.fileName));
    return engine.files.Create(folder + u"\\" + plan.fileName);
}

// Copies `dataSize` bytes from the package's position to the target. The entry is copied as whole
// blocks of kCopyBlockSize bytes, then the remainder, which is also a step (of nothing) when it is
// empty; the bar is given a value after each. Up to blocksPerChunk blocks, with the remainder after
// the last of them, travel through the buffer in one read and one write; the values of their steps
// follow the write, in order.
InstallError CopyEntryData(PackageFile& package, TargetFile& target, std::uint32_t dataSize,
                           CopyBuffer& buffer, ExtractionBar& bar) {
    const std::uint32_t blocks = dataSize / kCopyBlockSize;
    const std::uint32_t remainder = dataSize % kCopyBlockSize;
    std::uint32_t copied = 0;
    bool last = false;
    while (!last) {
        const std::uint32_t left = blocks - copied;
        const std::uint32_t chunkBlocks = std::min(left, buffer.blocksPerChunk);
        last = chunkBlocks == left;
        const std::size_t bytes =
            std::size_t{chunkBlocks} * kCopyBlockSize + (last ? std::size_t{remainder} : 0);
        const ReadResult read = ReadFully(package, buffer.bytes.data(), bytes);
        if (read.ioError || read.count != bytes) return InstallError::kDataFileReadFailed;
        if (bytes > 0) {
            const WriteStatus written = target.Write(buffer.bytes.data(), bytes);
            if (written != WriteStatus::kOk) return ErrorOf(written);
        }
        for (std::uint32_t b = 0; b < chunkBlocks; ++b) bar.Advance(kCopyBlockSize);
        copied += chunkBlocks;
    }
    bar.Advance(remainder);
    return InstallError::kNone;
}

// Closes the written file and gives it its creation and last-write time. The times are set on the
// closed file: closing a written file would move its last-write time again.
InstallError StampTimes(TargetFile& target, std::int64_t utcSeconds) {
    const WriteStatus closed = target.Close();
    if (closed != WriteStatus::kOk) return ErrorOf(closed);
    if (!target.SetTimes(FileTimes{utcSeconds, utcSeconds})) return InstallError::kFileWriteFailed;
    return InstallError::kNone;
}

// Writes one selected entry to its folder. On failure the target file is gone and any old file of
// its name is as it was.
InstallError WriteEntry(const InstallEngine& engine, PackageFile& package, const PackageEntry& entry,
                        const EntryPlan& plan, CopyBuffer& buffer, ExtractionBar& bar) {
    const std::unique_ptr<TargetFile> target = OpenTarget(engine, plan);
    if (!target) return InstallError::kFileNotCreated;
    if (!package.Seek(entry.dataOffset)) return InstallError::kDataFileReadFailed;
    InstallError error = CopyEntryData(package, *target, entry.dataSize, buffer, bar);
    if (error == InstallError::kNone) error = StampTimes(*target, plan.utcSeconds);
    if (error != InstallError::kNone) return error;
    // Only the complete file, with its times, takes the name. An old file that cannot be replaced
    // gives the message of a file that cannot be created, as it always has.
    if (!target->Commit()) return InstallError::kFileNotCreated;
    return InstallError::kNone;
}

// On the driver's platform kind, after the last entry: an installer that cannot be started leaves
// the driver uninstalled, so the setup could not be done, and says so instead of completing.
InstallError RunDriverInstaller(const InstallEngine& engine) {
    if (engine.platformKind != kDriverPlatformKind) return InstallError::kNone;
    if (!engine.shell.RunAndWait(engine.destinationFolder + u"\\" + kDriverInstallerName,
                                 kDriverInstallerParameters, engine.destinationFolder)) {
        return InstallError::kDriverInstallerFailed;
    }
    return InstallError::kNone;
}

// The extraction over the open package, which stays open until it returns.
InstallError WriteSelectedEntries(const InstallEngine& engine, PackageFile& package) {
    PackageHeader header;
    std::uint64_t total = 0;
    InstallError error = SumSelectedSizes(package, engine.platformKind, header, total);
    if (error != InstallError::kNone) return error;
    // Nothing for the destination folder: the setup ends without a message of this pass.
    if (total == 0) return InstallError::kNothingToInstall;
    TableReader table(package, header.entryCount);
    error = ValidateTable(engine, package, header, table);
    if (error != InstallError::kNone) return error;

    const std::uint64_t length = package.Size();
    CopyBuffer buffer(engine.copyBufferSize);
    ExtractionBar bar(engine.ui, total);
    PackageEntry entry;
    EntryPlan plan;
    for (std::uint32_t i = 0; i < header.entryCount; ++i) {
        if (!table.Read(i, entry)) return InstallError::kDataFileReadFailed;
        if (PlanEntry(length, entry, engine.platformKind, engine.names, engine.clock, plan) !=
            PackageFault::kNone) {
            return InstallError::kDataFileDamaged;
        }
        if (plan.destination == Destination::kNotWritten) continue;
        error = WriteEntry(engine, package, entry, plan, buffer, bar);
        if (error != InstallError::kNone) return error;
    }
    return RunDriverInstaller(engine);
}

}  // namespace

int ParseTimeStamp(const std::uint8_t* text, std::int32_t& year, std::int32_t& month, std::int32_t& day,
                   std::int32_t& hour, std::int32_t& minute, std::int32_t& second) {
    LocalTime time{year, month, day, hour, minute, second};
    ScanTimeStamp(text, time);
    year = time.year;
    month = time.month;
    day = time.day;
    hour = time.hour;
    minute = time.minute;
    second = time.second;
    return 1;
}

std::u16string CreateLogLine(const std::u16string& fileName) {
    return u"\nCreate \"" + fileName + u"\"...";
}

InstallError MeasureInstallSize(const InstallEngine& engine, std::uint64_t& total) {
    // Called between the checks and the extraction, it reads the file they share and leaves it held;
    // called on its own, it closes the package again.
    total = 0;
    const bool heldBefore = engine.held->file != nullptr;
    InstallError error = InstallError::kNone;
    std::unique_ptr<PackageFile> file = OpenPackage(engine, error);
    if (!file) return error;
    PackageHeader header;
    error = SumSelectedSizes(*file, engine.platformKind, header, total);
    file.reset();
    if (error != InstallError::kNone || !heldBefore) ReleasePackage(engine);
    if (error != InstallError::kNone) total = 0;
    return error;
}

std::uint64_t GetInstallSize(const InstallEngine& engine) {
    std::uint64_t total = 0;
    return ReportResult(engine.ui, MeasureInstallSize(engine, total)) == 1 ? total : 0;
}

int ExtractFiles(const InstallEngine& engine) {
    return ReportResult(engine.ui, ExtractPackage(engine));
}

InstallError ExtractPackage(const InstallEngine& engine) {
    InstallError error = InstallError::kNone;
    std::unique_ptr<PackageFile> package = OpenPackage(engine, error);
    if (!package) return error;
    error = WriteSelectedEntries(engine, *package);
    // The package is closed on every way out, also after the last entry.
    package.reset();
    ReleasePackage(engine);
    return error;
}

}  // namespace quentaro
