#include "tools/entry_report.h"

#include <iomanip>
#include <map>
#include <sstream>
#include <tuple>

#include "core/extract.h"
#include "core/memory_ports.h"
#include "core/shortcuts.h"
#include "tools/codepage.h"
#include "tools/host_ports.h"

namespace quentaro::pack {

std::string DescribeKinds(const std::vector<std::int32_t>& kinds) {
    static const char* const kNames[] = {"?", "2000", "XP", "Vista 32-bit", "64-bit", "7 and later 32-bit"};
    std::string names;
    std::string numbers;
    for (std::int32_t kind : kinds) {
        if (!names.empty()) {
            names += ", ";
            numbers += ", ";
        }
        names += kNames[kind >= 1 && kind <= 5 ? kind : 0];
        numbers += std::to_string(kind);
    }
    return "Windows " + names + (kinds.size() == 1 ? " (platform kind " : " (platform kinds ") + numbers +
           ")";
}

std::vector<PackageWarning> FindPackageWarnings(const std::vector<LabeledEntry>& entries,
                                                std::uint64_t length, int codePage) {
    CodePageDecoder decoder(codePage);
    memory::FixedOffsetClock clock;
    std::vector<std::int32_t> nothing;
    std::vector<std::int32_t> noApplication;
    std::vector<std::int32_t> noDriver;
    // (earlier entry, later entry, folder) -> the kinds on which the later one overwrites the earlier.
    std::map<std::tuple<std::size_t, std::size_t, Destination>, std::vector<std::int32_t>> clashes;
    std::map<std::size_t, std::u16string> shownNames;
    for (std::int32_t kind = 1; kind <= 5; ++kind) {
        std::vector<std::pair<std::size_t, EntryPlan>> written;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EntryPlan plan;
            if (PlanEntry(length, entries[i].record, kind, decoder, clock, plan) != PackageFault::kNone)
                continue;
            if (plan.destination != Destination::kNotWritten) written.emplace_back(i, plan);
        }
        std::uint64_t destinationBytes = 0;
        bool application = false;
        bool driver = false;
        for (std::size_t b = 0; b < written.size(); ++b) {
            const EntryPlan& plan = written[b].second;
            if (plan.destination == Destination::kDestinationFolder) {
                destinationBytes += entries[written[b].first].record.dataSize;
                application = application || EqualsIgnoreAsciiCase(plan.fileName, kApplicationFileName);
                driver = driver || EqualsIgnoreAsciiCase(plan.fileName, kDriverInstallerName);
            }
            for (std::size_t a = 0; a < b; ++a) {
                if (written[a].second.destination == plan.destination &&
                    EqualsIgnoreAsciiCase(written[a].second.fileName, plan.fileName)) {
                    clashes[{written[a].first, written[b].first, plan.destination}].push_back(kind);
                    shownNames[written[a].first] = written[a].second.fileName;
                    shownNames[written[b].first] = plan.fileName;
                    break;
                }
            }
        }
        // The setup sums the sizes of these files first and ends silently when the sum is 0.
        if (destinationBytes == 0) {
            nothing.push_back(kind);
            continue;
        }
        if (!application) noApplication.push_back(kind);
        if (kind == kDriverPlatformKind && !driver) noDriver.push_back(kind);
    }

    std::vector<PackageWarning> warnings;
    for (const auto& [key, kinds] : clashes) {
        const auto& [earlier, later, folder] = key;
        warnings.push_back(
            {entries[later].where, "\"" + Utf16ToUtf8(shownNames[later]) + "\" goes to the " +
                                       (folder == Destination::kSystemFolder ? "system" : "destination") +
                                       " folder under the same name as " + entries[earlier].where + " (\"" +
                                       Utf16ToUtf8(shownNames[earlier]) + "\") on " + DescribeKinds(kinds) +
                                       ": the later entry overwrites the earlier one"});
    }
    if (!nothing.empty()) {
        warnings.push_back({"", "no data goes to the destination folder (no entry, or empty files only) on " +
                                    DescribeKinds(nothing) +
                                    ": the setup ends there without a message (exit code 1)"});
    }
    if (!noApplication.empty()) {
        warnings.push_back(
            {"", "no \"QUENTARO.exe\" goes to the destination folder on " + DescribeKinds(noApplication) +
                     ": the setup makes no shortcuts and says so at the end of the installation"});
    }
    if (!noDriver.empty()) {
        warnings.push_back(
            {"", "no \"" + Utf16ToUtf8(kDriverInstallerName) + "\" goes to the destination folder on " +
                     DescribeKinds(noDriver) +
                     ": the setup stops with the driver installer message after writing the files"});
    }
    return warnings;
}

bool ReportWarnings(const std::vector<PackageWarning>& warnings, const std::string& file, bool werror,
                    std::ostream& err) {
    for (const PackageWarning& warning : warnings) {
        err << (werror ? "error: " : "warning: ") << file << ": "
            << (warning.where.empty() ? "" : warning.where + ": ") << warning.message
            << (werror ? " [--werror]" : "") << "\n";
    }
    return werror && !warnings.empty();
}

std::string ShownTimeStamp(const PackageEntry& entry) {
    LocalTime time;
    std::ostringstream when;
    if (ScanTimeStamp(entry.timeStamp.data(), time) == 6) {
        when << std::setfill('0') << std::setw(4) << time.year << '-' << std::setw(2) << time.month << '-'
             << std::setw(2) << time.day << ' ' << std::setw(2) << time.hour << ':' << std::setw(2)
             << time.minute << ':' << std::setw(2) << time.second;
    } else {
        when << Printable(entry.timeStamp.data(), 14);
    }
    return when.str();
}

std::string Printable(const std::uint8_t* bytes, std::size_t count) {
    std::ostringstream text;
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F && bytes[i] != '\\') {
            text << static_cast<char>(bytes[i]);
        } else {
            text << "\\x" << std::hex << std::setw(2) << std::setfill('0') << unsigned{bytes[i]} << std::dec;
        }
    }
    return text.str();
}

const char* FaultText(PackageFault fault) {
    switch (fault) {
    case PackageFault::kNone:
        return "ok";
    case PackageFault::kTooLong:
        return "package is 2 GiB or longer";
    case PackageFault::kTableOutside:
        return "entry table runs past the check value";
    case PackageFault::kDataOutside:
        return "data runs past the check value";
    case PackageFault::kBadName:
        return "name is not a sound file name";
    case PackageFault::kBadTimeStamp:
        return "time stamp is not a valid date and time in range";
    case PackageFault::kReadFailed:
        return "entry table cannot be read";
    }
    return "?";
}

}  // namespace quentaro::pack
