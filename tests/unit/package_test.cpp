#include "core/package.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/extract.h"
#include "fake_ports.h"
#include "package_fixtures.h"

namespace quentaro {
namespace {

using fixtures::Entry;
using fixtures::EntryField;
using fixtures::Package;
using fixtures::PatchU32;

TEST(PackageReader, ReadsHeaderFieldsLittleEndian) {
    std::vector<std::uint8_t> bytes(32, 0xEE);
    const std::string sig = "KJ47", ver = "V0.9";
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(sig[i]);
        bytes[16 + i] = static_cast<std::uint8_t>(ver[i]);
    }
    bytes[24] = 0x01, bytes[25] = 0x02, bytes[26] = 0x03, bytes[27] = 0x84;
    const PackageHeader header = ReadPackageHeader(bytes.data());
    EXPECT_EQ(std::string(header.signature.begin(), header.signature.end()), "KJ47");
    EXPECT_EQ(std::string(header.version.begin(), header.version.end()), "V0.9");
    EXPECT_EQ(header.entryCount, 0x84030201u);
}

TEST(PackageReader, ReadsEntryFields) {
    std::vector<std::uint8_t> bytes(64);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i + 1);
    const PackageEntry entry = ReadPackageEntry(bytes.data());
    EXPECT_EQ(entry.name[0], 1);
    EXPECT_EQ(entry.name[31], 32);
    EXPECT_EQ(entry.timeStamp[0], 33);
    EXPECT_EQ(entry.timeStamp[15], 48);
    EXPECT_EQ(entry.dataOffset, 0x34333231u);
    EXPECT_EQ(entry.dataSize, 0x38373635u);
    EXPECT_EQ(entry.target, 57);
}

TEST(PackageReader, WrittenEntryReadsBack) {
    PackageEntry entry;
    entry.name[0] = 'a';
    entry.timeStamp[13] = '9';
    entry.dataOffset = 0xDEADBEEF;
    entry.dataSize = 7;
    entry.target = 5;
    std::vector<std::uint8_t> bytes(64, 0xCC);
    WritePackageEntry(entry, bytes.data());
    const PackageEntry back = ReadPackageEntry(bytes.data());
    EXPECT_EQ(back.name, entry.name);
    EXPECT_EQ(back.timeStamp, entry.timeStamp);
    EXPECT_EQ(back.dataOffset, entry.dataOffset);
    EXPECT_EQ(back.dataSize, entry.dataSize);
    EXPECT_EQ(back.target, entry.target);
    EXPECT_EQ(bytes[57], 0);  // not interpreted, written as zero
}

TEST(PackageReader, NameEndsAtFirstZeroOrAfter32Bytes) {
    std::array<std::uint8_t, 32> name{};
    EXPECT_EQ(StoredNameLength(name), 0u);
    name.fill('x');
    EXPECT_EQ(StoredNameLength(name), 32u);
    name[5] = 0;
    EXPECT_EQ(StoredNameLength(name), 5u);
}

TEST(SelectionRule, EveryTargetOnEveryPlatformKind) {
    using D = Destination;
    const D n = D::kNotWritten, d = D::kDestinationFolder, s = D::kSystemFolder;
    const std::int32_t kinds[] = {-1, 0, 1, 2, 3, 4, 5};
    struct Row {
        std::uint8_t target;
        D expected[7];  // for the kinds above
    };
    const Row rows[] = {
        {0, {d, d, d, d, d, d, d}}, {1, {n, n, s, n, n, n, n}},   {2, {n, n, n, s, n, n, n}},
        {3, {n, n, n, n, s, n, d}}, {4, {n, n, n, n, n, s, n}},   {5, {n, n, n, n, n, n, s}},
        {6, {n, n, n, n, n, n, n}}, {255, {n, n, n, n, n, n, n}},
    };
    for (const Row& row : rows) {
        for (int k = 0; k < 7; ++k) {
            EXPECT_EQ(SelectDestination(row.target, kinds[k]), row.expected[k])
                << "target " << int{row.target} << " kind " << kinds[k];
        }
    }
}

TEST(SystemFileName, DropsEverythingUpToTheCharacterAfterTheLastPercent) {
    const struct {
        std::u16string name, expected;
    } cases[] = {
        {u"ab%xdrv.dll", u"drv.dll"},
        {u"drv.dll", u"drv.dll"},
        {u"a%b%cd", u"d"},
        {u"%%ab", u"b"},
        {u"%x", u""},
        {u"x%", u""},
        {u"", u""},
        {u"%xy", u"y"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetSystemFileName(c.name), c.expected);
}

TEST(SoundFileName, RefusesNamesThatLeaveTheFolderOrAreNoFileName) {
    const struct {
        std::u16string name;
        bool sound;
    } cases[] = {
        {u"QUENTARO.exe", true},
        {u"a b.txt", true},
        {u"%.x", true},
        {u"..a", true},
        {u"表示.txt", true},
        {u"CONSOLE", true},
        {u"com10", true},
        {u"", false},
        {u".", false},
        {u"..", false},
        {u"a\\b", false},
        {u"a/b", false},
        {u"c:x", false},
        {u"a:s", false},
        {u"a*", false},
        {u"a?", false},
        {u"a\"b", false},
        {u"<a>", false},
        {u"a|b", false},
        {u"a\tb", false},
        {u"name.", false},
        {u"name ", false},
        {u"CON", false},
        {u"nul.txt", false},
        {u"Com1", false},
        {u"lpt9.log", false},
        {u"aux .x", false},
        {u"CONOUT$", false},
        // Superscript one to three are digits to the device names too.
        {u"COM\u00B9", false},
        {u"com\u00B2.txt", false},
        {u"LPT\u00B3", false},
        {u"lpt\u00B9 .log", false},
        {u"COM\u2074", true},  // superscript four: an ordinary name
        {u"COM\u00B9\u00B9", true},
        {std::u16string(33, u'a'), false},
        {std::u16string(32, u'a'), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsSoundFileName(c.name), c.sound) << std::string(c.name.begin(), c.name.end());
}

struct ScanCase {
    const char* text;  // up to 16 bytes; shorter texts are zero padded
    int converted;
    LocalTime expected;
};

TEST(TimeStamp, ScansLikeScanfWithWidths422222) {
    const LocalTime keep{-7, -7, -7, -7, -7, -7};  // fields not converted keep their values
    const ScanCase cases[] = {
        {"20080401123456", 6, {2008, 4, 1, 12, 34, 56}},
        {"20080401123456XY", 6, {2008, 4, 1, 12, 34, 56}},
        {"2008040112345678", 6, {2008, 4, 1, 12, 34, 56}},
        {" 2008 4 1 2 3 4", 6, {2008, 4, 1, 2, 3, 4}},
        {"\t\n2008\v\f\r04", 2, {2008, 4, -7, -7, -7, -7}},
        {"+20801020304050", 6, {208, 1, 2, 3, 4, 5}},
        {"-0010101010101", 6, {-1, 1, 1, 1, 1, 1}},
        {"2008+1-2", 3, {2008, 1, -2, -7, -7, -7}},
        {"2008+x", 1, {2008, -7, -7, -7, -7, -7}},
        {"2008   ", 1, {2008, -7, -7, -7, -7, -7}},
        {"2008", 1, {2008, -7, -7, -7, -7, -7}},
        {"", 0, {-7, -7, -7, -7, -7, -7}},
        {"x2008", 0, {-7, -7, -7, -7, -7, -7}},
        {"123", 1, {123, -7, -7, -7, -7, -7}},
        {"2008040112", 4, {2008, 4, 1, 12, -7, -7}},
    };
    for (const ScanCase& c : cases) {
        std::uint8_t text[16] = {};
        for (std::size_t i = 0; i < 16 && c.text[i] != 0; ++i) text[i] = static_cast<std::uint8_t>(c.text[i]);
        LocalTime t = keep;
        EXPECT_EQ(ScanTimeStamp(text, t), c.converted) << c.text;
        EXPECT_EQ(t.year, c.expected.year) << c.text;
        EXPECT_EQ(t.month, c.expected.month) << c.text;
        EXPECT_EQ(t.day, c.expected.day) << c.text;
        EXPECT_EQ(t.hour, c.expected.hour) << c.text;
        EXPECT_EQ(t.minute, c.expected.minute) << c.text;
        EXPECT_EQ(t.second, c.expected.second) << c.text;
    }
}

TEST(TimeStamp, TextEndsAtZeroByteOrAfterSixteenBytes) {
    // "2008" then a zero: the digits after it are not read.
    std::uint8_t text[17] = {'2', '0', '0', '8', 0,   '0', '4', '0', '1',
                             '1', '2', '3', '4', '5', '6', '7', '8'};
    std::int32_t y = 0, mo = 99, d = 99, h = 99, mi = 99, s = 99;
    EXPECT_EQ(ParseTimeStamp(text, y, mo, d, h, mi, s), 1);
    EXPECT_EQ(y, 2008);
    EXPECT_EQ(mo, 99);
    // Sixteen blanks and a digit in the 17th byte: nothing is converted.
    std::uint8_t blanks[17];
    for (std::uint8_t& b : blanks) b = ' ';
    blanks[16] = '5';
    y = 1;
    EXPECT_EQ(ParseTimeStamp(blanks, y, mo, d, h, mi, s), 1);
    EXPECT_EQ(y, 1);
}

TEST(TimeStamp, CalendarCheck) {
    const struct {
        LocalTime t;
        bool valid;
    } cases[] = {
        {{2008, 2, 29, 0, 0, 0}, true},  {{2007, 2, 29, 0, 0, 0}, false}, {{2000, 2, 29, 23, 59, 59}, true},
        {{1900, 2, 29, 0, 0, 0}, false}, {{2008, 4, 31, 0, 0, 0}, false}, {{2008, 12, 31, 0, 0, 0}, true},
        {{2008, 13, 1, 0, 0, 0}, false}, {{2008, 0, 1, 0, 0, 0}, false},  {{2008, 1, 0, 0, 0, 0}, false},
        {{2008, 1, 1, 24, 0, 0}, false}, {{2008, 1, 1, 0, 60, 0}, false}, {{2008, 1, 1, 0, 0, 60}, false},
        {{2008, 1, 1, -1, 0, 0}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsCalendarTime(c.t), c.valid) << c.t.year << "-" << c.t.month;
}

TEST(TimeStamp, UtcSecondsOfCivilDates) {
    EXPECT_EQ(UtcSecondsOfCivil({1970, 1, 1, 0, 0, 0}), 0);
    EXPECT_EQ(UtcSecondsOfCivil({2038, 1, 19, 3, 14, 7}), 2147483647);
    EXPECT_EQ(UtcSecondsOfCivil({2008, 4, 1, 0, 0, 0}), 1207008000);
    EXPECT_EQ(UtcSecondsOfCivil({1969, 12, 31, 23, 59, 59}), -1);
    EXPECT_EQ(UtcSecondsOfCivil({2000, 3, 1, 0, 0, 0}), 951868800);
}

// ValidatePackage over an image in memory.
PackageCheck Validate(const std::vector<std::uint8_t>& image, std::int32_t kind, NameDecoder& names,
                      LocalClock& clock, std::uint64_t length = 0) {
    const PackageHeader header = ReadPackageHeader(image.data());
    const EntryReader reader = [&image](std::uint32_t index, PackageEntry& entry) {
        if (EntryRecordOffset(index) + kPackageEntrySize > image.size()) return false;
        entry = ReadPackageEntry(image.data() + EntryRecordOffset(index));
        return true;
    };
    return ValidatePackage(length != 0 ? length : image.size(), header, reader, kind, names, clock);
}

TEST(PackageLimits, TableAndDataMustEndBeforeTheCheckValue) {
    memory::ByteDecoder names;
    fakes::FakeClock clock;
    const std::vector<std::uint8_t> good = Package({Entry("a", 0, "xyz"), Entry("b", 4, "")});
    const std::uint64_t dataEnd = good.size() - 2;
    struct Case {
        const char* what;
        std::uint32_t patchOffset;  // 0: no patch
        std::uint32_t value;
        PackageFault fault;
        std::uint32_t entry;
    };
    const Case cases[] = {
        {"well formed", 0, 0, PackageFault::kNone, 0},
        {"count one too many", kEntryCountOffset, 3, PackageFault::kTableOutside, 0},
        {"count far beyond the table", kEntryCountOffset, 0xFFFFFFFF, PackageFault::kTableOutside, 0},
        {"data ends at the check value", static_cast<std::uint32_t>(EntryField(0, kDataOffsetOffset)),
         static_cast<std::uint32_t>(dataEnd - 3), PackageFault::kNone, 0},
        {"data into the check value", static_cast<std::uint32_t>(EntryField(0, kDataOffsetOffset)),
         static_cast<std::uint32_t>(dataEnd - 2), PackageFault::kDataOutside, 0},
        {"offset plus size wraps in 32 bits", static_cast<std::uint32_t>(EntryField(0, kDataSizeOffset)),
         0xFFFFFFFF, PackageFault::kDataOutside, 0},
        // Data bounds hold for entries that are not written on this platform kind as well.
        {"unwritten entry past the end", static_cast<std::uint32_t>(EntryField(1, kDataOffsetOffset)),
         static_cast<std::uint32_t>(dataEnd + 1), PackageFault::kDataOutside, 1},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> image = good;
        if (c.patchOffset != 0) PatchU32(image, c.patchOffset, c.value);
        const PackageCheck check = Validate(image, 1, names, clock);
        EXPECT_EQ(check.fault, c.fault) << c.what;
        EXPECT_EQ(check.entry, c.entry) << c.what;
    }
}

TEST(PackageLimits, LengthBelowTwoGibibytes) {
    memory::ByteDecoder names;
    fakes::FakeClock clock;
    const std::vector<std::uint8_t> image = Package({});
    EXPECT_TRUE(Validate(image, 0, names, clock, 0x7FFFFFFF).ok());
    EXPECT_EQ(Validate(image, 0, names, clock, 0x80000000).fault, PackageFault::kTooLong);
    PackageHeader header;
    EXPECT_EQ(CheckPackageTable(33, header).fault, PackageFault::kTableOutside);
    EXPECT_TRUE(CheckPackageTable(34, header).ok());
}

TEST(PackageLimits, NamesAreCheckedAfterDecodingOnlyForEntriesThatAreWritten) {
    memory::ByteDecoder bytes;
    fakes::DoubleByteDecoder dbcs;
    fakes::FakeClock clock;
    struct Case {
        std::string name;
        std::uint8_t target;
        std::int32_t kind;
        NameDecoder* names;
        PackageFault fault;
    };
    const std::string hyo = "\x95\x5C.txt";  // "表.txt" in Shift_JIS: the trail byte is 0x5C
    const Case cases[] = {
        {hyo, 0, 1, &dbcs, PackageFault::kNone},
        {hyo, 0, 1, &bytes, PackageFault::kBadName},    // the same bytes as a single-byte name hold "\"
        {"\x95", 0, 1, &dbcs, PackageFault::kBadName},  // cannot be decoded
        {"a\\b", 4, 1, &bytes, PackageFault::kNone},    // not for this platform kind
        {"a\\b", 4, 4, &bytes, PackageFault::kBadName},
        {"..\\%xa", 3, 3, &bytes, PackageFault::kBadName},  // the dropped prefix holds a "\"
        {"ab%x", 3, 3, &bytes, PackageFault::kBadName},     // empty in the system folder
        {"ab%x", 3, 5, &bytes, PackageFault::kNone},        // whole name in the destination folder
        {"ab%x..", 2, 2, &bytes, PackageFault::kBadName},
        {"ab%x.", 3, 5, &bytes, PackageFault::kBadName},
    };
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> image = Package({Entry(c.name, c.target, "d")});
        EXPECT_EQ(Validate(image, c.kind, *c.names, clock).fault, c.fault) << c.name << " kind " << c.kind;
    }
}

TEST(PackageLimits, TimeStampMustBeARealDateWhoseUtcIsInRange) {
    memory::ByteDecoder names;
    struct Case {
        std::string stamp;
        std::int64_t offset;  // local time minus UTC, seconds
        bool valid;
    };
    const Case cases[] = {
        {"20080401120000", 0, true},
        {"20080401120000\x7F\x80", 0, true},
        {"19700101000000", 0, true},
        {"19700101000000", 9 * 3600, false},  // 1969-12-31 15:00 UTC
        {"19700101085959", 9 * 3600, false},
        {"19700101090000", 9 * 3600, true},
        {"19691231190000", -5 * 3600, true},  // 1970-01-01 00:00 UTC
        {"20380119031407", 0, true},
        {"20380119031408", 0, false},
        {"20380119121407", 9 * 3600, true},
        {"20380119121408", 9 * 3600, false},
        {"20080230120000", 0, false},
        {"20081301120000", 0, false},
        {"20080401240000", 0, false},
        {"20080401126000", 0, false},
        {"20080401120060", 0, false},
        {"2008040112", 0, false},
        {"", 0, false},
        {"abcdefghijklmn", 0, false},
        {"99990101000000", 0, false},
        {"-0010101000000", 0, false},
    };
    for (const Case& c : cases) {
        fakes::FakeClock clock(c.offset);
        const std::vector<std::uint8_t> image = Package({Entry("a", 0, "d", c.stamp)});
        const PackageCheck check = Validate(image, 0, names, clock);
        EXPECT_EQ(check.fault, c.valid ? PackageFault::kNone : PackageFault::kBadTimeStamp)
            << c.stamp << " offset " << c.offset;
    }
    fakes::FakeClock failing;
    failing.fail = true;
    EXPECT_EQ(Validate(Package({Entry("a", 0, "d")}), 0, names, failing).fault, PackageFault::kBadTimeStamp);
    // An entry that is not written needs no valid time stamp.
    fakes::FakeClock clock;
    EXPECT_TRUE(Validate(Package({Entry("a", 0, "d"), Entry("b", 2, "d", "bad")}), 1, names, clock).ok());
}

}  // namespace
}  // namespace quentaro
