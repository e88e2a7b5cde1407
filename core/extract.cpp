#include "core/extract.h"

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

enum class TableStatus { kOk, kReadFailed, kDamaged };

InstallError ErrorOf(TableStatus status) {
    return status == TableStatus::kReadFailed ? InstallError::kDataFileReadFailed
                                              : InstallError::kDataFileDamaged;
}

InstallError ErrorOf(WriteStatus status) {
    return status == WriteStatus::kDiskFull ? InstallError::kDiskFull : InstallError::kFileWriteFailed;
}

// Reads the header of the open package and checks its length and table limits.
TableStatus ReadHeader(PackageFile& file, PackageHeader& header) {
    std::array<std::uint8_t, kPackageHeaderSize> bytes{};
    if (!ReadZeroPadded(file, 0, bytes.data(), bytes.size())) return TableStatus::kReadFailed;
    header = ReadPackageHeader(bytes.data());
    if (!CheckPackageTable(file.Size(), header).ok()) return TableStatus::kDamaged;
    return TableStatus::kOk;
}

// Sums the sizes of the entries for the destination folder, in 64 bits: entries may share data.
TableStatus SumInstallSize(PackageFile& file, const PackageHeader& header, std::int32_t platformKind,
                           std::uint64_t& total) {
    total = 0;
    TableReader table(file, header.entryCount);
    PackageEntry entry;
    for (std::uint32_t i = 0; i < header.entryCount; ++i) {
        if (!table.Read(i, entry)) return TableStatus::kReadFailed;
        if (SelectDestination(entry.target, platformKind) == Destination::kDestinationFolder) {
            total += entry.dataSize;
        }
    }
    return TableStatus::kOk;
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
    TableStatus status = ReadHeader(*file, header);
    if (status == TableStatus::kOk) status = SumInstallSize(*file, header, engine.platformKind, total);
    file.reset();
    if (status != TableStatus::kOk || !heldBefore) ReleasePackage(engine);
    if (status != TableStatus::kOk) {
        total = 0;
        return ErrorOf(status);
    }
    return InstallError::kNone;
}

std::uint64_t GetInstallSize(const InstallEngine& engine) {
    std::uint64_t total = 0;
    return ReportResult(engine.ui, MeasureInstallSize(engine, total)) == 1 ? total : 0;
}

int ExtractFiles(const InstallEngine& engine) {
    return ReportResult(engine.ui, ExtractPackage(engine));
}

InstallError ExtractPackage(const InstallEngine& engine) {
    InstallError openError = InstallError::kNone;
    std::unique_ptr<PackageFile> package = OpenPackage(engine, openError);
    // The package is closed on every way out, also after the last entry.
    struct Release {
        const InstallEngine& engine;
        ~Release() { ReleasePackage(engine); }
    } release{engine};
    auto fail = [&](InstallError error) {
        package.reset();
        ReleasePackage(engine);
        return error;
    };
    if (!package) return fail(openError);

    PackageHeader header;
    std::uint64_t total = 0;
    TableStatus status = ReadHeader(*package, header);
    if (status == TableStatus::kOk) status = SumInstallSize(*package, header, engine.platformKind, total);
    if (status != TableStatus::kOk) return fail(ErrorOf(status));
    // Nothing for the destination folder: the setup ends without a message of this pass.
    if (total == 0) return InstallError::kNothingToInstall;

    // The whole table is checked before the first file is written: a package outside its format
    // installs nothing.
    const std::uint64_t length = package->Size();
    TableReader table(*package, header.entryCount);
    const EntryReader readEntry = [&table](std::uint32_t index, PackageEntry& entry) {
        return table.Read(index, entry);
    };
    const PackageCheck check =
        ValidatePackage(length, header, readEntry, engine.platformKind, engine.names, engine.clock);
    if (check.fault == PackageFault::kReadFailed) return fail(InstallError::kDataFileReadFailed);
    if (!check.ok()) return fail(InstallError::kDataFileDamaged);

    const std::uint32_t blocksPerChunk = BlocksPerChunk(engine.copyBufferSize);
    const std::size_t smallest = std::size_t{blocksPerChunk} * kCopyBlockSize + (kCopyBlockSize - 1);
    std::vector<std::uint8_t> buffer(engine.copyBufferSize > smallest ? engine.copyBufferSize : smallest);
    std::uint64_t done = 0;
    PackageEntry entry;
    EntryPlan plan;
    for (std::uint32_t i = 0; i < header.entryCount; ++i) {
        if (!table.Read(i, entry)) return fail(InstallError::kDataFileReadFailed);
        if (PlanEntry(length, entry, engine.platformKind, engine.names, engine.clock, plan) !=
            PackageFault::kNone) {
            return fail(InstallError::kDataFileDamaged);
        }
        if (plan.destination != Destination::kNotWritten) {
            const std::u16string& folder = plan.destination == Destination::kSystemFolder
                                               ? engine.systemFolder
                                               : engine.destinationFolder;
            const std::u16string path = folder + u"\\" + plan.fileName;
            engine.ui.AppendLog(CreateLogLine(plan.fileName));

            std::unique_ptr<TargetFile> target = engine.files.Create(path);
            if (!target) return fail(InstallError::kFileNotCreated);
            if (!package->Seek(entry.dataOffset)) {
                target.reset();
                return fail(InstallError::kDataFileReadFailed);
            }
            // The entry is copied as whole blocks of kCopyBlockSize bytes, then the remainder, which
            // is also a step (of nothing) when it is empty; the bar is given a value after each.
            // Up to blocksPerChunk blocks, with the remainder after the last of them, travel
            // through the buffer in one read and one write; the values of their steps follow
            // the write, in order.
            const std::uint32_t blocks = entry.dataSize / kCopyBlockSize;
            const std::uint32_t remainder = entry.dataSize % kCopyBlockSize;
            std::uint32_t copied = 0;
            bool last = false;
            while (!last) {
                const std::uint32_t left = blocks - copied;
                const std::uint32_t chunkBlocks = left < blocksPerChunk ? left : blocksPerChunk;
                last = chunkBlocks == left;
                const std::size_t bytes =
                    std::size_t{chunkBlocks} * kCopyBlockSize + (last ? std::size_t{remainder} : 0);
                const ReadResult read = ReadFully(*package, buffer.data(), bytes);
                if (read.ioError || read.count != bytes) {
                    target.reset();
                    return fail(InstallError::kDataFileReadFailed);
                }
                if (bytes > 0) {
                    const WriteStatus written = target->Write(buffer.data(), bytes);
                    if (written != WriteStatus::kOk) {
                        target.reset();
                        return fail(ErrorOf(written));
                    }
                }
                for (std::uint32_t b = 0; b < chunkBlocks; ++b) {
                    done += kCopyBlockSize;
                    engine.ui.SetProgress(ExtractionProgress(done, total));
                }
                copied += chunkBlocks;
            }
            done += remainder;
            engine.ui.SetProgress(ExtractionProgress(done, total));
            const WriteStatus closed = target->Close();
            if (closed != WriteStatus::kOk) {
                target.reset();
                return fail(ErrorOf(closed));
            }
            // The times are set on the closed file: closing a written file would move its last-write
            // time again.
            if (!target->SetTimes(FileTimes{plan.utcSeconds, plan.utcSeconds})) {
                target.reset();
                return fail(InstallError::kFileWriteFailed);
            }
            // Only the complete file, with its times, takes the name. An old file that cannot be
            // replaced gives the message of a file that cannot be created, as it always has.
            const bool committed = target->Commit();
            target.reset();
            if (!committed) return fail(InstallError::kFileNotCreated);
        }
        // An installer that cannot be started leaves the driver uninstalled: the setup could not be
        // done, and says so instead of completing.
        if (i == header.entryCount - 1 && engine.platformKind == kDriverPlatformKind &&
            !engine.shell.RunAndWait(engine.destinationFolder + u"\\" + kDriverInstallerName,
                                     kDriverInstallerParameters, engine.destinationFolder)) {
            return fail(InstallError::kDriverInstallerFailed);
        }
    }
    return InstallError::kNone;
}

}  // namespace quentaro
