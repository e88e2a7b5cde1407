// The package tool's logic: building a package from a manifest, listing and verifying one. The
// executable quentaro-pack is a thin front end over RunPackTool.
#ifndef QUENTARO_TOOLS_PACK_H
#define QUENTARO_TOOLS_PACK_H

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "core/package.h"
#include "core/ports.h"

namespace quentaro::pack {

// The code pages a package can be built for.
bool IsSupportedCodePage(int codePage);

// Encodes a UTF-8 name into `codePage`; false (with `error` set) when it cannot be encoded.
bool EncodeName(const std::string& utf8, int codePage, std::vector<std::uint8_t>& bytes, std::string& error);
// Decodes bytes of `codePage` as the installing computer would; false when they are not valid there.
bool DecodeName(const std::uint8_t* bytes, std::size_t count, int codePage, std::u16string& name);

std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);

// A name decoder for one code page, standing in for the installing computer's ANSI code page.
class CodePageDecoder : public NameDecoder {
public:
    explicit CodePageDecoder(int codePage) : m_codePage(codePage) {}
    std::u16string DecodeAnsi(const std::uint8_t* bytes, std::size_t count) override;

private:
    int m_codePage;
};

// The setup reads a time stamp as the installing computer's local time and refuses one whose UTC
// time falls outside its range. The tool accepts a stamp only when it is inside that range in every
// time zone from UTC-12 to UTC+14: read at these two offsets, the extremes of the UTC times.
inline constexpr std::int64_t kZoneOffsets[] = {14 * 3600, -12 * 3600};
inline constexpr char kStampRangeEverywhere[] =
    "from 1970-01-01 14:00:00 to 2038-01-18 15:14:07 (the times that install in every time zone from "
    "UTC-12 to UTC+14)";

// The package as a file of the host, opened through std::ifstream.
class HostPackageStore : public PackageStore {
public:
    std::unique_ptr<PackageFile> Open(const std::u16string& name) override;
};

// One entry of a package image, its name already encoded.
struct ImageEntry {
    std::vector<std::uint8_t> name;  // at most 32 bytes
    std::string timeStamp;           // up to 16 bytes, normally 14 digits
    std::uint8_t target = 0;
    std::vector<std::uint8_t> data;
};

// Header and entry table for entries of the given sizes, the data laid out after the table in
// entry order. `sizes` has one element per entry.
std::vector<std::uint8_t> LayoutTable(const std::vector<ImageEntry>& entries,
                                      const std::vector<std::uint32_t>& sizes);

// A whole package in memory: header, table, each entry's data in order, check value.
std::vector<std::uint8_t> BuildImage(const std::vector<ImageEntry>& entries);

// Rewrites the last two bytes with the check value of everything before them (for images changed
// after they were built). The image holds at least two bytes.
void SealImage(std::vector<std::uint8_t>& image);

// One parsed manifest line.
struct ManifestEntry {
    int line = 0;
    std::string name;  // UTF-8, as written
    std::vector<std::uint8_t> encodedName;
    std::string timeStamp;
    std::uint8_t target = 0;
    std::string source;  // path of the source file, resolved against the manifest's folder
    std::uint64_t size = 0;
};

struct Manifest {
    std::vector<ManifestEntry> entries;  // the good lines
    std::vector<std::string> errors;     // every error, "line N: ...", in line order
};

// Parses manifest text; `folder` is the manifest's folder, against which relative sources resolve.
// A UTF-8 byte-order mark at the start is skipped. Every entry is checked: known fields only, each
// once, separated by TABs; a name that encodes into at most 32 bytes of `codePage`, reads back the
// same there and is a sound file name in every folder the entry can go to; a 14-digit time stamp of a
// real date and time in range; a target from 0 to 5; an existing source file. All errors of all
// lines are collected.
Manifest ParseManifest(const std::string& text, const std::string& folder, int codePage);

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

// The stored time stamp as "YYYY-MM-DD hh:mm:ss", or its bytes when it cannot be scanned.
std::string ShownTimeStamp(const PackageEntry& entry);

// One file that the setup writes.
struct PlannedFile {
    Destination folder = Destination::kNotWritten;
    std::u16string name;  // the name it has in its folder
    std::uint32_t entry = 0;
    std::u16string storedName;  // the entry's name as stored, decoded
    std::uint64_t size = 0;     // bytes written
    std::string time;           // the local time it is given, as stored
};

enum class Outcome { kCompletes, kCompletesWithoutShortcuts, kStops, kEndsWithoutMessage };

// What the setup does with a package on one platform kind.
struct KindPlan {
    std::int32_t kind = 0;
    std::vector<PlannedFile> files;  // in the order they are written
    bool driverRuns = false;         // the setup starts the driver installer (it fails when not delivered)
    bool driverDelivered = false;    // QuentaroDriver32setup.exe is among the destination files
    bool infDelivered = false;       // so is Quentaro.inf
    bool shortcuts = false;          // the shortcuts are made
    Outcome outcome = Outcome::kEndsWithoutMessage;
    std::u16string message;  // the message the setup stops with
};

struct PackagePlan {
    std::uint64_t length = 0;
    std::u16string neededSpace;   // the destination page's text
    std::vector<KindPlan> kinds;  // platform kinds 1 to 5
};

// Runs the setup's checks, extraction and shortcut creation on the package for platform kinds 1 to 5
// against recording stand-ins of the file system, the shell and the shell links (a computer in UTC,
// names decoded in `codePage`). False (with `error`, the system's reason) when the package cannot be
// opened.
bool PlanPackage(const std::string& path, int codePage, PackagePlan& plan, std::string& error);

// Runs the tool with its arguments (without the program name); returns the exit status: 0 success
// (also for help), 1 a failed verification, a bad manifest or package, or a warning under --werror,
// 2 wrong usage.
int RunPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quentaro::pack

#endif  // QUENTARO_TOOLS_PACK_H
