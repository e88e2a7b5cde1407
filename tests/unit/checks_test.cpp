#include "core/checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "core/crc16.h"
#include "core/messages.h"
#include "core/progress.h"
#include "fake_ports.h"
#include "package_fixtures.h"

namespace quentaro {
namespace {

using fakes::Rig;

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// Runs one check on `bytes` and returns its result; expects the package to be held open for the next
// reader after a pass, and closed after a failure, already when its message is shown.
int RunCheck(int (*check)(const InstallEngine&), const std::vector<std::uint8_t>& bytes, Rig& rig) {
    rig.store.bytes = bytes;
    const int result = check(rig.engine);
    EXPECT_EQ(rig.store.isOpen, result == 1);
    EXPECT_EQ(rig.store.opens, 1);
    EXPECT_EQ(rig.store.openedName, u"QUENTARO.cab");
    for (bool open : rig.ui.packageOpenAtError) EXPECT_FALSE(open);
    return result;
}

TEST(CheckSignature, Cases) {
    const struct {
        std::string bytes;
        bool passes;
    } cases[] = {
        {"KJ47", true},      {"KJ47 and more bytes of a package", true},
        {"kj47xxxx", false}, {std::string("KJ4\0xxxx", 8), false},
        {"KJ4", false},      {"", false},
        {"KJ46", false},
    };
    for (const auto& c : cases) {
        Rig rig;
        EXPECT_EQ(RunCheck(CheckSignature, Bytes(c.bytes), rig), c.passes ? 1 : 0) << c.bytes;
        const std::vector<std::u16string> expected =
            c.passes ? std::vector<std::u16string>{} : std::vector<std::u16string>{kMsgDataFileDamaged};
        EXPECT_EQ(rig.ui.errors, expected) << c.bytes;
    }
}

TEST(CheckVersion, Cases) {
    const std::string head = std::string("KJ47") + std::string(12, '\0');
    const struct {
        std::string bytes;  // the whole file
        bool passes;
    } cases[] = {
        {head + "V1.0" + std::string(20, 'z'), true},
        {head + "V0.9", true},
        {head + std::string("V1\0\0", 4), true},
        {head + std::string(4, '\0'), true},
        {head + "V1.", true},  // file ends: the fourth byte reads as zero
        {head, true},          // 16 bytes: empty version text
        {"KJ47", true},        // shorter than 16 bytes
        {head + "V", true},
        {head + "V1.1", false},
        {head + "V2.0", false},
        {head + "W1.0", false},
        {head + "v1.0", false},
        {head + "V1.0"
                "\x01",
         true},                   // only four bytes are read
        {head + "V\x80", false},  // bytes compare unsigned: 0x80 sorts after "1"
        {head + "V1.00", true},
    };
    for (const auto& c : cases) {
        Rig rig;
        EXPECT_EQ(RunCheck(CheckVersion, Bytes(c.bytes), rig), c.passes ? 1 : 0) << c.bytes.substr(16);
        EXPECT_EQ(rig.ui.errors.size(), c.passes ? 0u : 1u);
        if (!c.passes) {
            EXPECT_EQ(rig.ui.errors[0], kMsgDataFileDamaged);
        }
    }
}

TEST(Checks, PackageThatCannotBeOpenedGivesTheNotFoundMessage) {
    for (int (*check)(const InstallEngine&) : {CheckSignature, CheckVersion, CheckCrc}) {
        Rig rig;
        rig.store.present = false;
        EXPECT_EQ(check(rig.engine), 0);
        EXPECT_EQ(rig.ui.errors, std::vector<std::u16string>{kMsgDataFileNotFound});
        EXPECT_TRUE(rig.ui.progress.empty());
    }
}

TEST(Checks, ReadErrorGivesTheReadMessage) {
    const struct {
        int (*check)(const InstallEngine&);
        std::uint64_t errorAt;
    } cases[] = {{CheckSignature, 3}, {CheckVersion, 19}, {CheckCrc, 33}};
    for (const auto& c : cases) {
        Rig rig;
        rig.store.ioErrorAt = c.errorAt;
        EXPECT_EQ(RunCheck(c.check, fixtures::Package({}), rig), 0);
        EXPECT_EQ(rig.ui.errors, std::vector<std::u16string>{kMsgDataFileReadFailed});
    }
}

std::vector<std::uint8_t> Sealed(std::vector<std::uint8_t> body) {
    const std::uint16_t check = Crc16X25(body.data(), body.size());
    body.push_back(static_cast<std::uint8_t>(check & 0xFF));
    body.push_back(static_cast<std::uint8_t>(check >> 8));
    return body;
}

TEST(CheckCrc, AcceptsTheCheckValueLowByteFirstOnly) {
    // A body whose check value has two equal bytes, found by trying a last byte.
    std::vector<std::uint8_t> equalBody = Bytes("equal bytes ");
    for (int b = 0; b < 256 * 256; ++b) {
        equalBody.resize(12);
        equalBody.push_back(static_cast<std::uint8_t>(b & 0xFF));
        equalBody.push_back(static_cast<std::uint8_t>(b >> 8));
        const std::uint16_t check = Crc16X25(equalBody.data(), equalBody.size());
        if ((check & 0xFF) == (check >> 8)) break;
    }
    const struct {
        std::vector<std::uint8_t> body;
    } bodies[] = {{Bytes("123456789")}, {equalBody}, {fixtures::Package({fixtures::Entry("a", 0, "abc")})}};
    for (const auto& c : bodies) {
        const std::vector<std::uint8_t> low = Sealed(c.body);
        std::vector<std::uint8_t> high = low;
        std::swap(high[high.size() - 1], high[high.size() - 2]);
        const bool equal = low[low.size() - 1] == low[low.size() - 2];
        Rig a, b;
        EXPECT_EQ(RunCheck(CheckCrc, low, a), 1);
        EXPECT_TRUE(a.ui.errors.empty());
        EXPECT_EQ(RunCheck(CheckCrc, high, b), equal ? 1 : 0);
        if (!equal) {
            EXPECT_EQ(b.ui.errors, std::vector<std::u16string>{kMsgDataFileDamaged});
        }
    }
    const std::uint16_t equalCheck = Crc16X25(equalBody.data(), equalBody.size());
    EXPECT_EQ(equalCheck & 0xFF, equalCheck >> 8);
}

TEST(CheckCrc, ChangingAnySingleByteBreaksTheCheckValue) {
    const std::vector<std::uint8_t> package = fixtures::Package({fixtures::Entry("file.txt", 0, "contents")});
    for (std::size_t i = 0; i < package.size(); ++i) {
        for (std::uint8_t flip : {0x01, 0x80, 0xFF}) {
            std::vector<std::uint8_t> changed = package;
            changed[i] ^= flip;
            Rig rig;
            rig.ui.recordProgress = false;
            EXPECT_EQ(RunCheck(CheckCrc, changed, rig), 0) << "byte " << i;
        }
    }
}

// A value given to the bar and the number of package bytes behind it.
struct Step {
    std::uint64_t at = 0;
    std::int32_t value = 0;
    bool operator==(const Step& other) const { return at == other.at && value == other.value; }
};

std::ostream& operator<<(std::ostream& out, const Step& step) {
    return out << step.value << "@" << step.at;
}

// What the bar shows while a package of `length` bytes is checked: the value floor(50 * d / length)
// after every byte d, reduced to the first one and every change, each with the byte it follows.
std::vector<Step> ReferenceSteps(std::uint64_t length) {
    std::vector<Step> steps;
    for (std::uint64_t d = 1; d <= length; ++d) {
        const auto value = static_cast<std::int32_t>(50 * d / length);
        if (steps.empty() || steps.back().value != value) steps.push_back({d, value});
    }
    return steps;
}

std::vector<Step> GivenSteps(const Rig& rig) {
    std::vector<Step> steps;
    for (std::size_t i = 0; i < rig.ui.progress.size(); ++i)
        steps.push_back({rig.ui.progressAt[i], rig.ui.progress[i]});
    return steps;
}

// The register bit by bit, without the table: the reflected polynomial 0x1021.
std::uint16_t BitwiseCrc(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t r = 0xFFFF;
    for (std::uint8_t b : bytes) {
        r ^= b;
        for (int bit = 0; bit < 8; ++bit) r = (r & 1u) != 0 ? (r >> 1) ^ 0x8408u : r >> 1;
    }
    return static_cast<std::uint16_t>(r);
}

TEST(CheckCrc, ProgressOfA200BytePackage) {
    std::vector<std::uint8_t> body(198);
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<std::uint8_t>(i);
    Rig rig;
    rig.store.maxRead = 1;  // so that the bytes read tell the byte after which each value came
    EXPECT_EQ(RunCheck(CheckCrc, Sealed(body), rig), 1);
    const std::vector<Step> steps = GivenSteps(rig);
    ASSERT_EQ(steps.size(), 51u);
    EXPECT_EQ(steps[0], (Step{1, 0}));      // the first byte
    EXPECT_EQ(steps[1], (Step{4, 1}));      // the fourth byte
    EXPECT_EQ(steps[25], (Step{100, 25}));  // the hundredth byte
    EXPECT_EQ(steps[50], (Step{200, 50}));
    EXPECT_EQ(steps, ReferenceSteps(200));
}

TEST(CheckCrc, ProgressStepsAtTheSameBytesAsAValueAfterEveryByte) {
    for (std::size_t length : {1u, 2u, 3u, 49u, 50u, 51u, 99u, 999u, 1001u, 2999u, 65536u, 65537u, 200003u}) {
        Rig rig;
        rig.store.bytes.assign(length, 0x5A);
        rig.store.maxRead = 1;
        CheckCrc(rig.engine);
        EXPECT_EQ(GivenSteps(rig), ReferenceSteps(length)) << length;
        EXPECT_EQ(rig.ui.progress.back(), 50);
    }
}

TEST(CheckCrc, RandomPackagesAgainstTheBitwiseRegister) {
    std::mt19937 random(20080401);
    const std::size_t maxReads[] = {1, 7, 1000, 65535, kCrcBlockSize, 3 * kCrcBlockSize};
    for (int round = 0; round < 60; ++round) {
        const std::size_t lengths[] = {1 + random() % 300, 1 + random() % 5000, 60000 + random() % 150000};
        const std::size_t length = lengths[round % 3];
        std::vector<std::uint8_t> bytes(length);
        for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
        if (length > 2 && round % 2 == 0) bytes = Sealed({bytes.begin(), bytes.end() - 2});
        const std::size_t maxRead = maxReads[random() % std::size(maxReads)];

        Rig rig;
        rig.store.maxRead = maxRead;
        const int expected = BitwiseCrc(bytes) == 0xF0B8 ? 1 : 0;
        EXPECT_EQ(RunCheck(CheckCrc, bytes, rig), expected) << length;
        EXPECT_EQ(rig.ui.errors.size(), expected == 1 ? 0u : 1u);
        // The same values; each one given once the byte it follows has been read, and before the
        // bytes of a later read.
        const std::vector<Step> reference = ReferenceSteps(length);
        const std::vector<Step> given = GivenSteps(rig);
        ASSERT_EQ(given.size(), reference.size()) << length << " " << maxRead;
        const std::uint64_t read = std::min(maxRead, kCrcBlockSize);
        for (std::size_t i = 0; i < given.size(); ++i) {
            EXPECT_EQ(given[i].value, reference[i].value) << length << " " << i;
            EXPECT_GE(given[i].at, reference[i].at) << length << " " << i;
            EXPECT_LT(given[i].at, reference[i].at + read) << length << " " << i;
        }
    }
}

TEST(CheckCrc, ReadsInWholeBlocks) {
    Rig rig;
    rig.ui.recordProgress = false;
    rig.store.bytes = Sealed(std::vector<std::uint8_t>(2 * kCrcBlockSize + 498, 7));
    EXPECT_EQ(CheckCrc(rig.engine), 1);
    EXPECT_EQ(rig.store.readSizes, (std::vector<std::size_t>{kCrcBlockSize, kCrcBlockSize, 500}));
}

TEST(CheckCrc, SmallerBlocksGiveTheSameValuesAtTheSameBytes) {
    std::vector<std::uint8_t> bytes(2000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + i / 7);
    bytes = Sealed(bytes);
    const struct {
        std::size_t blockSize;
        std::vector<std::size_t> reads;  // the first reads asked for
    } cases[] = {{1, {1, 1, 1}}, {7, {7, 7, 7}}, {1000, {1000, 1000, 2}}, {4096, {2002}}};
    for (const auto& c : cases) {
        Rig rig;
        rig.engine.crcBlockSize = c.blockSize;
        EXPECT_EQ(RunCheck(CheckCrc, bytes, rig), 1) << c.blockSize;
        ASSERT_GE(rig.store.readSizes.size(), c.reads.size());
        EXPECT_EQ(std::vector<std::size_t>(rig.store.readSizes.begin(),
                                           rig.store.readSizes.begin() + static_cast<long>(c.reads.size())),
                  c.reads)
            << c.blockSize;
        // The same values whatever the block; each given after its byte, before the next block's.
        const std::vector<Step> reference = ReferenceSteps(bytes.size());
        const std::vector<Step> given = GivenSteps(rig);
        ASSERT_EQ(given.size(), reference.size()) << c.blockSize;
        for (std::size_t i = 0; i < given.size(); ++i) {
            EXPECT_EQ(given[i].value, reference[i].value) << c.blockSize << " " << i;
            EXPECT_GE(given[i].at, reference[i].at) << c.blockSize << " " << i;
            EXPECT_LT(given[i].at, reference[i].at + c.blockSize) << c.blockSize << " " << i;
        }
    }
}

TEST(CheckProgressSteps, NextIsTheFirstCountOfTheNextValue) {
    const std::uint64_t big = ~std::uint64_t{0};
    for (std::uint64_t length :
         {std::uint64_t{1}, std::uint64_t{7}, std::uint64_t{49}, std::uint64_t{50}, std::uint64_t{51},
          std::uint64_t{200}, kMaxPackageLength, (std::uint64_t{1} << 40) + 7, big / 3, big - 1}) {
        CheckProgressSteps steps(length);
        std::int32_t value = 0;
        while (steps.Next() != big) {
            const std::uint64_t next = steps.Next();
            ASSERT_LE(next, length);
            ASSERT_GT(CheckProgress(next, length), value) << length;
            ASSERT_EQ(CheckProgress(next - 1, length), value) << length << " " << next;
            value = steps.Reach(next);
        }
        EXPECT_EQ(value, 50) << length;
    }
}

TEST(CheckCrc, ShortReadAndOversizeFile) {
    Rig shortRead;  // the file reports more bytes than it gives
    shortRead.store.bytes = Sealed(Bytes("123456789"));
    shortRead.store.reportedSize = 20;
    EXPECT_EQ(CheckCrc(shortRead.engine), 0);
    EXPECT_EQ(shortRead.ui.errors, std::vector<std::u16string>{kMsgDataFileReadFailed});

    Rig huge;  // 2 GiB: refused before a byte is read
    huge.store.reportedSize = 0x80000000u;
    huge.store.zeroTail = true;
    EXPECT_EQ(CheckCrc(huge.engine), 0);
    EXPECT_EQ(huge.ui.errors, std::vector<std::u16string>{kMsgDataFileDamaged});
    EXPECT_TRUE(huge.ui.progress.empty());
    EXPECT_TRUE(huge.store.readSizes.empty());

    Rig empty;
    EXPECT_EQ(RunCheck(CheckCrc, {}, empty), 0);
    EXPECT_EQ(empty.ui.errors, std::vector<std::u16string>{kMsgDataFileDamaged});
}

__extension__ typedef unsigned __int128 Wide;

TEST(Progress, ScaledShareIsExactWithoutOverflow) {
    const std::uint64_t big = ~std::uint64_t{0};
    const struct {
        std::uint64_t done, total;
    } cases[] = {
        {0, 1},
        {1, 1},
        {3, 200},
        {100, 200},
        {big, big},
        {big - 1, big},
        {big / 2, big},
        {big / 3, big / 2},
        {1ull << 40, (1ull << 40) + 1},
        {0xFFFFFFFFull * 3, 0xFFFFFFFFull * 4},
        {12345, 7},
    };
    for (const auto& c : cases) {
        for (std::uint32_t scale : {1u, 50u, 100u}) {
            const Wide expected = Wide{c.done} * scale / c.total;
            const std::uint64_t clamped = expected > big ? big : static_cast<std::uint64_t>(expected);
            EXPECT_EQ(ScaledShare(c.done, c.total, scale), clamped)
                << c.done << "/" << c.total << "*" << scale;
        }
    }
    EXPECT_EQ(ExtractionProgress(big - 1, big), 99);
    EXPECT_EQ(ExtractionProgress(big, 1), 100);
    EXPECT_EQ(CheckProgress(big, big), 50);
}

}  // namespace
}  // namespace quentaro
