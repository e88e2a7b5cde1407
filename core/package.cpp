#include "core/package.h"

#include "core/ports.h"

namespace quentaro {

std::uint32_t ReadU32Le(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

void WriteU32Le(std::uint8_t* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

PackageHeader ReadPackageHeader(const std::uint8_t* bytes) {
    PackageHeader header;
    for (std::size_t i = 0; i < 4; ++i) {
        header.signature[i] = bytes[kSignatureOffset + i];
        header.version[i] = bytes[kVersionOffset + i];
    }
    header.entryCount = ReadU32Le(bytes + kEntryCountOffset);
    return header;
}

PackageEntry ReadPackageEntry(const std::uint8_t* bytes) {
    PackageEntry entry;
    for (std::size_t i = 0; i < kNameSize; ++i) entry.name[i] = bytes[i];
    for (std::size_t i = 0; i < kTimeStampSize; ++i) entry.timeStamp[i] = bytes[kTimeStampOffset + i];
    entry.dataOffset = ReadU32Le(bytes + kDataOffsetOffset);
    entry.dataSize = ReadU32Le(bytes + kDataSizeOffset);
    entry.target = bytes[kTargetOffset];
    return entry;
}

void WritePackageHeader(const PackageHeader& header, std::uint8_t* bytes) {
    for (std::size_t i = 0; i < kPackageHeaderSize; ++i) bytes[i] = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[kSignatureOffset + i] = header.signature[i];
        bytes[kVersionOffset + i] = header.version[i];
    }
    WriteU32Le(bytes + kEntryCountOffset, header.entryCount);
}

void WritePackageEntry(const PackageEntry& entry, std::uint8_t* bytes) {
    for (std::size_t i = 0; i < kPackageEntrySize; ++i) bytes[i] = 0;
    for (std::size_t i = 0; i < kNameSize; ++i) bytes[i] = entry.name[i];
    for (std::size_t i = 0; i < kTimeStampSize; ++i) bytes[kTimeStampOffset + i] = entry.timeStamp[i];
    WriteU32Le(bytes + kDataOffsetOffset, entry.dataOffset);
    WriteU32Le(bytes + kDataSizeOffset, entry.dataSize);
    bytes[kTargetOffset] = entry.target;
}

std::size_t StoredNameLength(const std::array<std::uint8_t, 32>& name) {
    std::size_t n = 0;
    while (n < name.size() && name[n] != 0) ++n;
    return n;
}

Destination SelectDestination(std::uint8_t target, std::int32_t platformKind) {
    if (target == kTargetAll) return Destination::kDestinationFolder;
    if (target == 3 && platformKind == 5) return Destination::kDestinationFolder;
    if (target <= 5 && target == platformKind) return Destination::kSystemFolder;
    return Destination::kNotWritten;
}

std::u16string GetSystemFileName(const std::u16string& name) {
    const std::size_t percent = name.rfind(u'%');
    if (percent == std::u16string::npos) return name;
    if (name.size() - percent <= 2) return std::u16string();
    return name.substr(percent + 2);
}

namespace {

bool IsScanSpace(std::uint8_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsLeapYear(std::int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::int32_t DaysInMonth(std::int32_t year, std::int32_t month) {
    static constexpr std::int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && IsLeapYear(year)) return 29;
    return kDays[month - 1];
}

// Characters that Windows refuses anywhere in a file name; "\", "/" and ":" would also leave the
// folder or name a stream.
bool IsForbiddenChar(char16_t c) {
    if (c < 0x20) return true;
    switch (c) {
    case u'\\':
    case u'/':
    case u':':
    case u'*':
    case u'?':
    case u'"':
    case u'<':
    case u'>':
    case u'|':
        return true;
    default:
        return false;
    }
}

char16_t AsciiUpper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
}

// "CON", "nul.txt", "Com1 .log", "LPT\u00B9": names that Windows opens as devices in every folder.
// The superscript digits one to three (code page 1252 bytes 0xB9, 0xB2, 0xB3) count as digits there.
bool IsDeviceName(const std::u16string& name) {
    std::u16string base = name.substr(0, name.find(u'.'));
    while (!base.empty() && base.back() == u' ') base.pop_back();
    for (char16_t& c : base) c = AsciiUpper(c);
    static const char16_t* const kDevices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
    for (const char16_t* device : kDevices) {
        if (base == device) return true;
    }
    if (base.size() == 4 && (base.compare(0, 3, u"COM") == 0 || base.compare(0, 3, u"LPT") == 0) &&
        ((base[3] >= u'1' && base[3] <= u'9') || base[3] == u'\u00B9' || base[3] == u'\u00B2' ||
         base[3] == u'\u00B3')) {
        return true;
    }
    return false;
}

bool HasForbiddenChar(const std::u16string& name) {
    for (char16_t c : name) {
        if (IsForbiddenChar(c)) return true;
    }
    return false;
}

}  // namespace

int ScanTimeStamp(const std::uint8_t* text, LocalTime& time) {
    std::size_t end = 0;
    while (end < kTimeStampSize && text[end] != 0) ++end;
    std::int32_t* const fields[6] = {&time.year, &time.month,  &time.day,
                                     &time.hour, &time.minute, &time.second};
    static constexpr std::size_t kWidths[6] = {4, 2, 2, 2, 2, 2};
    std::size_t pos = 0;
    int converted = 0;
    for (int f = 0; f < 6; ++f) {
        while (pos < end && IsScanSpace(text[pos])) ++pos;
        if (pos == end) break;
        std::size_t used = 0;
        bool negative = false;
        if (text[pos] == '+' || text[pos] == '-') {
            negative = text[pos] == '-';
            ++pos;
            ++used;
        }
        std::int32_t value = 0;
        std::size_t digits = 0;
        while (used < kWidths[f] && pos < end && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + (text[pos] - '0');
            ++pos;
            ++used;
            ++digits;
        }
        if (digits == 0) break;
        *fields[f] = negative ? -value : value;
        ++converted;
    }
    return converted;
}

bool IsCalendarTime(const LocalTime& time) {
    if (time.month < 1 || time.month > 12) return false;
    if (time.day < 1 || time.day > DaysInMonth(time.year, time.month)) return false;
    return time.hour >= 0 && time.hour <= 23 && time.minute >= 0 && time.minute <= 59 && time.second >= 0 &&
           time.second <= 59;
}

std::int64_t UtcSecondsOfCivil(const LocalTime& time) {
    // Days from 1970-01-01 of a proleptic Gregorian date, counted in 400-year eras from March 1st.
    const std::int64_t y = std::int64_t{time.year} - (time.month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t monthFromMarch = time.month > 2 ? time.month - 3 : time.month + 9;
    const std::int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + time.day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const std::int64_t days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + std::int64_t{time.hour} * 3600 + std::int64_t{time.minute} * 60 + time.second;
}

bool IsSoundFileName(const std::u16string& name) {
    if (name.empty() || name.size() > kNameSize) return false;
    if (HasForbiddenChar(name)) return false;
    // Covers "." and ".." as well: Windows drops trailing dots and blanks from a name.
    if (name.back() == u'.' || name.back() == u' ') return false;
    return !IsDeviceName(name);
}

PackageCheck CheckPackageTable(std::uint64_t length, const PackageHeader& header) {
    if (length > kMaxPackageLength) return {PackageFault::kTooLong, 0};
    if (length < kPackageHeaderSize + kCheckValueSize ||
        EntryRecordOffset(header.entryCount) > length - kCheckValueSize) {
        return {PackageFault::kTableOutside, 0};
    }
    return {};
}

PackageFault PlanEntry(std::uint64_t length, const PackageEntry& entry, std::int32_t platformKind,
                       NameDecoder& names, LocalClock& clock, EntryPlan& plan) {
    plan = EntryPlan();
    if (length < kCheckValueSize ||
        std::uint64_t{entry.dataOffset} + entry.dataSize > length - kCheckValueSize) {
        return PackageFault::kDataOutside;
    }
    const Destination destination = SelectDestination(entry.target, platformKind);
    if (destination == Destination::kNotWritten) return PackageFault::kNone;

    const std::size_t stored = StoredNameLength(entry.name);
    if (stored == 0) return PackageFault::kBadName;
    const std::u16string decoded = names.DecodeAnsi(entry.name.data(), stored);
    if (HasForbiddenChar(decoded)) return PackageFault::kBadName;
    std::u16string fileName =
        destination == Destination::kSystemFolder ? GetSystemFileName(decoded) : decoded;
    if (!IsSoundFileName(fileName)) return PackageFault::kBadName;

    LocalTime local;
    if (ScanTimeStamp(entry.timeStamp.data(), local) != 6 || !IsCalendarTime(local)) {
        return PackageFault::kBadTimeStamp;
    }
    // Local times more than a day outside the range cannot fall inside it in any time zone.
    if (local.year < 1969 || local.year > 2038) return PackageFault::kBadTimeStamp;
    std::int64_t utc = 0;
    if (!clock.LocalToUtc(local, utc) || utc < kMinStampSeconds || utc > kMaxStampSeconds) {
        return PackageFault::kBadTimeStamp;
    }
    plan.destination = destination;
    plan.fileName = std::move(fileName);
    plan.utcSeconds = utc;
    return PackageFault::kNone;
}

PackageCheck ValidatePackage(std::uint64_t length, const PackageHeader& header, const EntryReader& readEntry,
                             std::int32_t platformKind, NameDecoder& names, LocalClock& clock) {
    const PackageCheck table = CheckPackageTable(length, header);
    if (!table.ok()) return table;
    PackageEntry entry;
    EntryPlan plan;
    for (std::uint32_t i = 0; i < header.entryCount; ++i) {
        if (!readEntry(i, entry)) return {PackageFault::kReadFailed, i};
        const PackageFault fault = PlanEntry(length, entry, platformKind, names, clock, plan);
        if (fault != PackageFault::kNone) return {fault, i};
    }
    return {};
}

}  // namespace quentaro
