#include "core/checks.h"

#include <gtest/gtest.h>

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

// Runs one check on `bytes` and returns its result; expects the package to be closed afterwards and
// at the time any message is shown.
int RunCheck(int (*check)(const InstallEngine&), const std::vector<std::uint8_t>& bytes, Rig& rig) {
    rig.store.bytes = bytes;
    const int result = check(rig.engine);
    EXPECT_FALSE(rig.store.isOpen);
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

TEST(CheckCrc, ProgressAfterEveryByteOfA200BytePackage) {
    std::vector<std::uint8_t> body(198);
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<std::uint8_t>(i);
    Rig rig;
    EXPECT_EQ(RunCheck(CheckCrc, Sealed(body), rig), 1);
    const std::vector<std::int32_t>& p = rig.ui.progress;
    ASSERT_EQ(p.size(), 200u);
    EXPECT_EQ(p[2], 0);  // third byte
    EXPECT_EQ(p[3], 1);  // fourth byte
    EXPECT_EQ(p[98], 24);
    EXPECT_EQ(p[99], 25);  // hundredth byte
    EXPECT_EQ(p[198], 49);
    EXPECT_EQ(p[199], 50);
    for (std::size_t d = 1; d <= p.size(); ++d)
        EXPECT_EQ(p[d - 1], static_cast<std::int32_t>(50 * d / 200)) << d;
}

TEST(CheckCrc, ProgressEndsAtExactly50ForOddLengths) {
    for (std::size_t length : {1u, 2u, 3u, 49u, 51u, 999u, 1001u, 2999u}) {
        Rig rig;
        rig.store.bytes.assign(length, 0x5A);
        CheckCrc(rig.engine);
        ASSERT_EQ(rig.ui.progress.size(), length);
        EXPECT_EQ(rig.ui.progress.back(), 50);
        for (std::size_t d = 1; d <= length; ++d) {
            ASSERT_EQ(rig.ui.progress[d - 1], static_cast<std::int32_t>(50 * d / length))
                << length << " " << d;
        }
    }
}

TEST(CheckCrc, ReadsInBlocksOf1000Bytes) {
    Rig rig;
    rig.ui.recordProgress = false;
    rig.store.bytes = Sealed(std::vector<std::uint8_t>(2498, 7));
    EXPECT_EQ(CheckCrc(rig.engine), 1);
    EXPECT_EQ(rig.store.readSizes, (std::vector<std::size_t>{1000, 1000, 500}));
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
