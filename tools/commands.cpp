#include "tools/commands.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "core/checks.h"
#include "core/crc16.h"
#include "core/engine.h"
#include "core/memory_ports.h"
#include "core/messages.h"
#include "tools/codepage.h"
#include "tools/host_ports.h"
#include "tools/image.h"
#include "tools/entry_report.h"
#include "tools/manifest.h"

namespace quentaro::pack {

int Build(const Options& options, std::ostream& out, std::ostream& err) {
    std::ifstream manifestFile(options.manifest, std::ios::binary);
    if (!manifestFile) {
        err << options.manifest << ": " << ReadFailureReason(options.manifest) << "\n";
        return 1;
    }
    std::ostringstream text;
    text << manifestFile.rdbuf();
    const std::string folder = std::filesystem::path(options.manifest).parent_path().string();
    const Manifest manifest = ParseManifest(text.str(), folder, options.codePage);
    if (!manifest.errors.empty()) {
        for (const std::string& error : manifest.errors) err << options.manifest << ": " << error << "\n";
        err << options.manifest << ": " << manifest.errors.size()
            << (manifest.errors.size() == 1 ? " error" : " errors") << ", no package written\n";
        return 1;
    }
    std::vector<LabeledEntry> labeled;
    for (const ManifestEntry& item : manifest.entries) {
        ImageEntry image;
        image.name = item.encodedName;
        image.timeStamp = item.timeStamp;
        image.target = item.target;
        labeled.push_back({"line " + std::to_string(item.line),
                           MakeEntry(image, 0, static_cast<std::uint32_t>(item.size))});
    }
    if (ReportWarnings(FindPackageWarnings(labeled, kMaxPackageLength, options.codePage), options.manifest,
                       options.werror, err)) {
        err << options.manifest << ": warnings are errors (--werror), no package written\n";
        return 1;
    }

    std::vector<ImageEntry> entries;
    std::vector<std::uint32_t> sizes;
    std::uint64_t length =
        EntryRecordOffset(static_cast<std::uint32_t>(manifest.entries.size())) + kCheckValueSize;
    for (const ManifestEntry& item : manifest.entries) {
        ImageEntry entry;
        entry.name = item.encodedName;
        entry.timeStamp = item.timeStamp;
        entry.target = item.target;
        entries.push_back(entry);
        length += item.size;
        if (length > kMaxPackageLength) {
            err << options.manifest << ": " << LineError(item.line, "the package would reach 2 GiB") << "\n";
            return 1;
        }
        sizes.push_back(static_cast<std::uint32_t>(item.size));
    }

    // Written beside the output and renamed at the end: a failed build leaves no package behind.
    const std::string partial = options.output + ".partial";
    auto fail = [&](const std::string& message) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        err << message << "\n";
        return 1;
    };
    {
        std::ofstream package(partial, std::ios::binary | std::ios::trunc);
        if (!package) return fail(partial + ": " + std::strerror(errno));
        const std::vector<std::uint8_t> table = LayoutTable(entries, sizes);
        std::uint16_t r = Crc16Update(kCrc16Initial, table.data(), table.size());
        package.write(reinterpret_cast<const char*>(table.data()),
                      static_cast<std::streamsize>(table.size()));
        std::vector<char> buffer(1 << 16);
        for (const ManifestEntry& item : manifest.entries) {
            std::ifstream source(item.source, std::ios::binary);
            if (!source) {
                return fail(options.manifest + ": " +
                            LineError(item.line, item.source + ": " + ReadFailureReason(item.source)));
            }
            std::uint64_t copied = 0;
            while (source) {
                source.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                const std::size_t got = static_cast<std::size_t>(source.gcount());
                if (got == 0) break;
                r = Crc16Update(r, reinterpret_cast<const std::uint8_t*>(buffer.data()), got);
                package.write(buffer.data(), static_cast<std::streamsize>(got));
                copied += got;
            }
            if (source.bad() || copied != item.size) {
                return fail(options.manifest + ": " +
                            LineError(item.line, item.source + " changed while it was read"));
            }
        }
        const std::uint16_t check = static_cast<std::uint16_t>(~r);
        const char tail[2] = {static_cast<char>(check & 0xFF), static_cast<char>(check >> 8)};
        package.write(tail, 2);
        package.close();
        if (!package) return fail(partial + ": " + std::strerror(errno));
    }
    std::error_code renamed;
    std::filesystem::rename(partial, options.output, renamed);
    if (renamed) return fail(options.output + ": " + renamed.message());
    out << options.output << ": " << manifest.entries.size() << " entries, " << length << " bytes\n";
    return 0;
}

int List(const Options& options, std::ostream& out, std::ostream& err) {
    HostPackageStore store;
    const std::string& path = options.positional[0];
    std::unique_ptr<PackageFile> file = store.Open(Utf8ToUtf16(path));
    if (!file) {
        err << path << ": " << ReadFailureReason(path) << "\n";
        return 1;
    }
    const std::uint64_t length = file->Size();
    std::array<std::uint8_t, kPackageHeaderSize> bytes{};
    if (!ReadZeroPadded(*file, 0, bytes.data(), bytes.size())) {
        err << path << ": cannot be read\n";
        return 1;
    }
    const PackageHeader header = ReadPackageHeader(bytes.data());
    out << "length:     " << length << "\n";
    out << "signature:  " << Printable(header.signature.data(), 4) << "\n";
    out << "version:    " << Printable(header.version.data(), 4) << "\n";
    out << "entries:    " << header.entryCount << "\n";
    const PackageCheck table = CheckPackageTable(length, header);
    if (!table.ok()) {
        err << path << ": " << FaultText(table.fault) << "\n";
        return 1;
    }
    out << "index  target  size        offset      time                 name\n";
    CodePageDecoder decoder(options.codePage);
    for (std::uint32_t i = 0; i < header.entryCount; ++i) {
        std::array<std::uint8_t, kPackageEntrySize> record{};
        if (!ReadZeroPadded(*file, EntryRecordOffset(i), record.data(), record.size())) {
            err << path << ": entry " << i << " cannot be read\n";
            return 1;
        }
        const PackageEntry entry = ReadPackageEntry(record.data());
        const std::string when = ShownTimeStamp(entry);
        const std::size_t stored = StoredNameLength(entry.name);
        std::u16string name;
        const std::string shown = DecodeName(entry.name.data(), stored, options.codePage, name)
                                      ? Utf16ToUtf8(name)
                                      : Printable(entry.name.data(), stored);
        out << std::left << std::setw(7) << i << std::setw(8) << unsigned{entry.target} << std::setw(12)
            << entry.dataSize << std::setw(12) << entry.dataOffset << std::setw(21) << when << shown
            << std::right << "\n";
    }
    return 0;
}

int Verify(const Options& options, std::ostream& out, std::ostream& err) {
    const std::string& path = options.positional[0];
    // The checks write nothing and read no time stamp; the tool learns what failed from the error
    // returned, and the install page stands in without showing it.
    HostPackageStore store;
    memory::CountingUi ui;
    memory::CountingFileSystem files;
    CodePageDecoder decoder(options.codePage);
    memory::FixedOffsetClock clock;
    memory::NullShell shell;
    InstallEngine engine{store, ui, files, decoder, clock, shell, 0, u"", u"", Utf8ToUtf16(path)};
    struct Step {
        const char* label;
        InstallError (*check)(const InstallEngine&);
    };
    static constexpr Step kSteps[] = {
        {"signature", VerifySignature}, {"version", VerifyVersion}, {"check value", VerifyCrc}};
    bool ok = true;
    for (const Step& step : kSteps) {
        const InstallError error = step.check(engine);
        const bool passed = error == InstallError::kNone;
        out << step.label << ": " << (passed ? "ok" : "FAILED") << "\n";
        if (error == InstallError::kDataFileNotFound) {
            err << path << ": " << ReadFailureReason(path) << "\n";
            return 1;
        }
        ok = ok && passed;
    }

    // The limits that the extraction checks, on every platform kind and in every time zone.
    std::unique_ptr<PackageFile> file = store.Open(engine.packageName);
    if (!file) {
        err << path << ": " << ReadFailureReason(path) << "\n";
        return 1;
    }
    std::array<std::uint8_t, kPackageHeaderSize> bytes{};
    PackageCheck check;
    if (!ReadZeroPadded(*file, 0, bytes.data(), bytes.size())) {
        check.fault = PackageFault::kReadFailed;
    }
    const PackageHeader header = ReadPackageHeader(bytes.data());
    const EntryReader readEntry = [&file](std::uint32_t index, PackageEntry& entry) {
        std::array<std::uint8_t, kPackageEntrySize> record{};
        if (!ReadZeroPadded(*file, EntryRecordOffset(index), record.data(), record.size())) return false;
        entry = ReadPackageEntry(record.data());
        return true;
    };
    std::int32_t failedKind = 0;
    for (std::int64_t offset : kZoneOffsets) {
        memory::FixedOffsetClock zone(offset);
        for (std::int32_t kind = -1; kind <= 5 && check.ok(); ++kind) {
            check = ValidatePackage(file->Size(), header, readEntry, kind, decoder, zone);
            failedKind = kind;
        }
    }
    if (check.ok()) {
        out << "format: ok\n";
    } else if (check.fault == PackageFault::kTooLong || check.fault == PackageFault::kTableOutside) {
        out << "format: FAILED: " << FaultText(check.fault) << "\n";
    } else if (check.fault == PackageFault::kBadTimeStamp) {
        out << "format: FAILED: entry " << check.entry << " (platform kind " << failedKind
            << "): time stamp is not a real date and time " << kStampRangeEverywhere << "\n";
    } else {
        out << "format: FAILED: entry " << check.entry << " (platform kind " << failedKind
            << "): " << FaultText(check.fault) << "\n";
    }
    if (!ok || !check.ok()) return 1;

    // What the setup would install only in part, with the records it reads.
    std::vector<LabeledEntry> labeled;
    for (std::uint32_t i = 0; i < header.entryCount; ++i) {
        LabeledEntry entry{"entry " + std::to_string(i), PackageEntry{}};
        if (!readEntry(i, entry.record)) {
            err << path << ": entry " << i << " cannot be read\n";
            return 1;
        }
        labeled.push_back(entry);
    }
    return ReportWarnings(FindPackageWarnings(labeled, file->Size(), options.codePage), path, options.werror,
                          err)
               ? 1
               : 0;
}

}  // namespace quentaro::pack
