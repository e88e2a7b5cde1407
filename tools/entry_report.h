// What the setup makes of a package's entries on each class of Windows and in each time zone, and
// how the tool shows it: faults, warnings, stored bytes and time stamps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/package.h"

namespace quentaro::pack {

// The setup reads a time stamp as the installing computer's local time and refuses one whose UTC
// time falls outside its range. The tool accepts a stamp only when it is inside that range in every
// time zone from UTC-12 to UTC+14: read at these two offsets, the extremes of the UTC times.
inline constexpr std::int64_t kZoneOffsets[] = {14 * 3600, -12 * 3600};
inline constexpr char kStampRangeEverywhere[] =
    "from 1970-01-01 14:00:00 to 2038-01-18 15:14:07 (the times that install in every time zone from "
    "UTC-12 to UTC+14)";

// "Windows 2000, XP (platform kinds 1, 2)" for the kinds given (1 to 5).
std::string DescribeKinds(const std::vector<std::int32_t>& kinds);

// An entry record with the place it came from ("line 4" of a manifest, "entry 3" of a package).
struct LabeledEntry {
    std::string where;
    PackageEntry record;
};

// Something that makes the setup install a package only in part, or not at all, on some class of
// Windows although every check passes. `where` is empty when no single entry is to blame.
struct PackageWarning {
    std::string where;
    std::string message;
};

// Runs the setup's selection rule over the entries for platform kinds 1 to 5 and reports: nothing for
// the destination folder (the setup ends without a message), no "QUENTARO.exe" there (no shortcuts),
// no driver installer on the driver's platform kind, two entries that end up as one file. Entries that
// the checks would refuse are left out. `length` is the package's length (the records' data must lie
// inside it).
std::vector<PackageWarning> FindPackageWarnings(const std::vector<LabeledEntry>& entries,
                                                std::uint64_t length, int codePage);

// Prints the warnings on `err` as warnings of `file`, or as errors under --werror; true when they
// make the run fail (--werror).
bool ReportWarnings(const std::vector<PackageWarning>& warnings, const std::string& file, bool werror,
                    std::ostream& err);

// The stored time stamp as "YYYY-MM-DD hh:mm:ss", or its bytes when it cannot be scanned.
std::string ShownTimeStamp(const PackageEntry& entry);

// Stored bytes as text: printable ASCII as it is, every other byte and the backslash as \xNN.
std::string Printable(const std::uint8_t* bytes, std::size_t count);

// What a fault of the format means, in a few words.
const char* FaultText(PackageFault fault);

}  // namespace quentaro::pack
