// The data package "QUENTARO.cab": its layout, the reader of its header and entry records from byte
// buffers, and the one place where a package is checked against the limits of its format.
//
// Layout (all integers unsigned, little-endian, offsets from the first byte of the file):
//   PackageHeader, 32 bytes at 0: Signature "KJ47" (0..3), Version "V1.0" (16..19), EntryCount (24..27).
//   Entry table: EntryCount records of 64 bytes, record i at 32 + 64 * i.
//   PackageEntry: Name (0..31, ANSI code page, ends at the first zero byte or after 32 bytes),
//     TimeStamp (32..47, "YYYYMMDDhhmmss" local time, bytes 46 and 47 not interpreted),
//     DataOffset (48..51), DataSize (52..55), Target (56).
//   File data anywhere before the check value; the last two bytes are the CRC-16/X-25 of everything
//   before them, low byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quentaro {

class NameDecoder;
class LocalClock;

// The package's name, relative to the current directory.
inline constexpr char16_t kPackageFileName[] = u"QUENTARO.cab";

inline constexpr std::uint32_t kPackageHeaderSize = 32;
inline constexpr std::uint32_t kPackageEntrySize = 64;
inline constexpr std::uint32_t kCheckValueSize = 2;
inline constexpr std::uint32_t kSignatureOffset = 0;
inline constexpr std::uint32_t kSignatureSize = 4;
inline constexpr std::uint32_t kVersionOffset = 16;
inline constexpr std::uint32_t kVersionSize = 4;
inline constexpr std::uint32_t kEntryCountOffset = 24;
inline constexpr std::uint32_t kNameSize = 32;
inline constexpr std::uint32_t kTimeStampOffset = 32;
inline constexpr std::uint32_t kTimeStampSize = 16;
inline constexpr std::uint32_t kDataOffsetOffset = 48;
inline constexpr std::uint32_t kDataSizeOffset = 52;
inline constexpr std::uint32_t kTargetOffset = 56;
// Every offset in a package is reached with a signed 32-bit seek: a package is at most this long.
inline constexpr std::uint64_t kMaxPackageLength = 0x7FFFFFFFu;

inline constexpr std::array<std::uint8_t, 4> kPackageSignature = {'K', 'J', '4', '7'};
inline constexpr std::array<std::uint8_t, 4> kPackageVersion = {'V', '1', '.', '0'};

// Target 0: the entry is for every platform; 1 to 5: for that PlatformKind.
inline constexpr std::uint8_t kTargetAll = 0;

struct PackageHeader {
    std::array<std::uint8_t, 4> signature{};
    std::array<std::uint8_t, 4> version{};
    std::uint32_t entryCount = 0;
};

struct PackageEntry {
    std::array<std::uint8_t, 32> name{};
    std::array<std::uint8_t, 16> timeStamp{};
    std::uint32_t dataOffset = 0;
    std::uint32_t dataSize = 0;
    std::uint8_t target = 0;
};

std::uint32_t ReadU32Le(const std::uint8_t* bytes);
void WriteU32Le(std::uint8_t* bytes, std::uint32_t value);

// `bytes` holds kPackageHeaderSize bytes.
PackageHeader ReadPackageHeader(const std::uint8_t* bytes);
// `bytes` holds kPackageEntrySize bytes.
PackageEntry ReadPackageEntry(const std::uint8_t* bytes);
// The inverse of the readers, for the package tool; bytes that are not interpreted become zero.
void WritePackageHeader(const PackageHeader& header, std::uint8_t* bytes);
void WritePackageEntry(const PackageEntry& entry, std::uint8_t* bytes);

// Offset of entry record `index` in the package.
inline std::uint64_t EntryRecordOffset(std::uint32_t index) {
    return kPackageHeaderSize + std::uint64_t{kPackageEntrySize} * index;
}

// Number of bytes of a stored name: up to the first zero byte, at most kNameSize.
std::size_t StoredNameLength(const std::array<std::uint8_t, 32>& name);

// Where an entry goes on a given PlatformKind.
enum class Destination { kNotWritten, kDestinationFolder, kSystemFolder };

// The selection rule: Target 0 → destination folder; Target 3 on PlatformKind 5 → destination folder;
// Target equal to the PlatformKind (1 to 5) otherwise → system folder; anything else is not written.
Destination SelectDestination(std::uint8_t target, std::int32_t platformKind);

// The name used in the system folder: everything up to and including the last "%" and the one
// character after it is dropped; a name without "%" is used whole.
std::u16string GetSystemFileName(const std::u16string& name);

// A local date and time as stored in a TimeStamp.
struct LocalTime {
    std::int32_t year = 0;
    std::int32_t month = 0;
    std::int32_t day = 0;
    std::int32_t hour = 0;
    std::int32_t minute = 0;
    std::int32_t second = 0;
};

// Scans a TimeStamp the way a scanf conversion "%4d%2d%2d%2d%2d%2d" does: leading white space is
// skipped before each number, a sign is allowed and counts towards the width. The text ends at the
// first zero byte or after kTimeStampSize bytes. Returns how many of the six numbers were converted;
// the fields not converted are left as they were in `time`.
int ScanTimeStamp(const std::uint8_t* text, LocalTime& time);

// True for a real calendar date and time (seconds 0 to 59), whatever its range.
bool IsCalendarTime(const LocalTime& time);

// Seconds since 1970-01-01 00:00:00 of a calendar date and time read as UTC (proleptic Gregorian).
std::int64_t UtcSecondsOfCivil(const LocalTime& time);

// Range of a signed 32-bit count of seconds since 1970: the times a package may carry.
inline constexpr std::int64_t kMinStampSeconds = 0;
inline constexpr std::int64_t kMaxStampSeconds = 0x7FFFFFFF;

// A name that may be written as a file directly inside a folder: not empty, not "." or "..", no
// path separator, drive or stream colon, wildcard or other character that Windows refuses in a
// file name, no trailing dot or blank (Windows would drop it), and not a device name such as "CON".
bool IsSoundFileName(const std::u16string& name);

// Why a package is refused.
enum class PackageFault {
    kNone,
    kTooLong,       // 2 GiB or longer
    kTableOutside,  // header or entry table does not end before the check value
    kDataOutside,   // an entry's data does not end before the check value
    kBadName,       // an entry to be written has a name that is not a sound file name
    kBadTimeStamp,  // an entry to be written has no valid date and time in range
    kReadFailed,    // the entry table could not be read
};

struct PackageCheck {
    PackageFault fault = PackageFault::kNone;
    std::uint32_t entry = 0;  // index of the offending entry, for the entry faults
    bool ok() const { return fault == PackageFault::kNone; }
};

// The size and table limits alone: length below 2 GiB and 32 + 64 * EntryCount <= length - 2.
PackageCheck CheckPackageTable(std::uint64_t length, const PackageHeader& header);

// Reads entry record `index` into `entry`; false when it cannot be read.
using EntryReader = std::function<bool(std::uint32_t index, PackageEntry& entry)>;

// Everything that is checked before a single file is written, for a package of `length` bytes
// installed on `platformKind`: the table limits; for every entry, DataOffset + DataSize <= length - 2;
// for every entry that will be written, a sound name (decoded with `names`, and for the system
// folder also after its prefix is dropped) and a valid time stamp whose UTC equivalent (through
// `clock`) lies in [kMinStampSeconds, kMaxStampSeconds]. Reports the first fault in table order.
PackageCheck ValidatePackage(std::uint64_t length, const PackageHeader& header, const EntryReader& readEntry,
                             std::int32_t platformKind, NameDecoder& names, LocalClock& clock);

// What the extraction does with one entry, as decided by ValidatePackage's rules.
struct EntryPlan {
    Destination destination = Destination::kNotWritten;
    std::u16string fileName;  // the name used in its folder
    std::int64_t utcSeconds = 0;
};

// Checks one entry that lies inside a package of `length` bytes and works out where it goes.
// This is the per-entry part of ValidatePackage.
PackageFault PlanEntry(std::uint64_t length, const PackageEntry& entry, std::int32_t platformKind,
                       NameDecoder& names, LocalClock& clock, EntryPlan& plan);

}  // namespace quentaro
