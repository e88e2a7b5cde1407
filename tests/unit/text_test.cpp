#include "core/text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "core/folders.h"

namespace quentaro {
namespace {

constexpr uint64_t kMiB = 1048576;

std::u16string Ascii(const char* text) {
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

// glibc prints doubles correctly rounded (an exact half to even), which is the rounding that
// FormatMegabytes promises; here it serves as the reference.
std::u16string Reference(uint64_t bytes) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%0.1f", static_cast<double>(bytes) / 1048576.0);
    return Ascii(buffer);
}

TEST(FormatMegabytes, MatchesCorrectlyRoundedPrintf) {
    std::vector<uint64_t> samples = {0,
                                     1,
                                     kMiB / 20 - 1,
                                     kMiB / 20,
                                     kMiB / 20 + 1,
                                     kMiB - 1,
                                     kMiB,
                                     50 * kMiB,
                                     (uint64_t{1} << 53) - 1,
                                     uint64_t{1} << 53,
                                     (uint64_t{1} << 53) + 1,
                                     (uint64_t{1} << 53) + 3,
                                     uint64_t{1} << 63,
                                     std::numeric_limits<uint64_t>::max() - 1024,
                                     std::numeric_limits<uint64_t>::max()};
    // Exact halves of a tenth (j × 2^18 bytes for odd j) and their neighbours.
    for (uint64_t j = 1; j < 64; j += 2) {
        for (uint64_t delta : {0, 1}) {
            samples.push_back(j * (kMiB / 4) + delta);
            samples.push_back(j * (kMiB / 4) - delta);
        }
    }
    // Every tenth boundary of the first 3 MB and some spread-out counts.
    for (uint64_t b = 0; b < 3 * kMiB; b += 104857) samples.push_back(b);
    uint64_t x = 88172645463325252u;
    for (int i = 0; i < 2000; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        samples.push_back(x >> (i % 40));
    }
    for (uint64_t bytes : samples) {
        ASSERT_EQ(FormatMegabytes(bytes), Reference(bytes)) << bytes;
    }
}

TEST(FormatMegabytes, ExactHalvesGoToTheEvenTenth) {
    EXPECT_EQ(FormatMegabytes(kMiB / 4), u"0.2");
    EXPECT_EQ(FormatMegabytes(3 * kMiB / 4), u"0.8");
    EXPECT_EQ(FormatMegabytes(5 * kMiB / 4), u"1.2");
    EXPECT_EQ(FormatMegabytes(kMiB / 4 + 1), u"0.3");
    EXPECT_EQ(FormatMegabytes(kMiB - 1), u"1.0");
}

TEST(FormatNeededSpace, ShowsThePackageSize) {
    EXPECT_EQ(FormatNeededSpace(50 * kMiB), u"必要容量: 50.0 MB");
    EXPECT_EQ(FormatNeededSpace(0), u"必要容量: 0.0 MB");
    EXPECT_EQ(FormatNeededSpace(0xFFFFFFFFu), u"必要容量: 4096.0 MB");
    EXPECT_EQ(FormatNeededSpace(12345678), u"必要容量: 11.8 MB");
}

TEST(FormatFreeSpace, ShowsTheFreeBytesOfTheVolume) {
    EXPECT_EQ(FormatFreeSpace(1048576), u"空き容量: 1.0 MB");
    EXPECT_EQ(FormatFreeSpace(uint64_t{5} << 40), u"空き容量: 5242880.0 MB");
}

struct FakeVolumes {
    std::vector<std::u16string> asked;
    std::optional<uint64_t> answer;
    TotalFreeBytesQuery Query() {
        return [this](std::u16string_view root) {
            asked.emplace_back(root);
            return answer;
        };
    }
};

// The destination page trims the folder text where it takes it, and shows the free space of that.
TEST(FreeSpaceText, FollowsTheTrimmedFolderText) {
    struct Case {
        std::u16string folder;
        std::optional<uint64_t> answer;
        std::u16string expectedText;
        std::u16string expectedFolder;
        std::vector<std::u16string> expectedRoots;
    };
    const Case cases[] = {
        {u"", 7 * kMiB, u"空き容量:", u"", {}},
        {u"   ", 7 * kMiB, u"空き容量:", u"", {}},
        {u"C:\\Program Files\\QUENTARO",
         7 * kMiB,
         u"空き容量: 7.0 MB",
         u"C:\\Program Files\\QUENTARO",
         {u"C:\\"}},
        {u"  d:\\x", 3 * kMiB / 2, u"空き容量: 1.5 MB", u"d:\\x", {u"d:\\"}},
        {u"C:", kMiB, u"空き容量: 1.0 MB", u"C:", {u"C:\\"}},
        {u"C:folder", kMiB, u"空き容量: 1.0 MB", u"C:folder", {u"C:\\"}},
        {u"\\\\server\\share", kMiB, u"空き容量:", u"\\\\server\\share", {}},
        {u"C", kMiB, u"空き容量:", u"C", {}},
        {u"CC:\\", kMiB, u"空き容量:", u"CC:\\", {}},
        {u"\u3000C:\\", kMiB, u"空き容量:", u"\u3000C:\\", {}},
        {u"Q:\\A", std::nullopt, u"空き容量:", u"Q:\\A", {u"Q:\\"}},
        {u"C:\\", 0, u"空き容量: 0.0 MB", u"C:\\", {u"C:\\"}},
    };
    for (const Case& c : cases) {
        FakeVolumes volumes;
        volumes.answer = c.answer;
        const std::u16string_view folder = TrimmedLeadingWhiteSpace(c.folder);
        EXPECT_EQ(folder, c.expectedFolder);
        EXPECT_EQ(FreeSpaceText(folder, volumes.Query()), c.expectedText)
            << ::testing::PrintToString(c.folder);
        EXPECT_EQ(volumes.asked, c.expectedRoots);
    }
}

TEST(ProgressPercentText, IsTheTruncatedDoubleProduct) {
    // Of the positions 0 to 100, exactly 29, 57 and 58 come out one lower: 0.29 × 100.0 is
    // 28.999999999999996 in double arithmetic.
    for (int32_t position = 0; position <= 100; ++position) {
        const bool lower = position == 29 || position == 57 || position == 58;
        const std::string expected = std::to_string(lower ? position - 1 : position) + "%";
        EXPECT_EQ(ProgressPercentText(ProgressFraction(position, 0, 100)), Ascii(expected.c_str()))
            << position;
    }
}

TEST(ProgressPercentText, OtherBounds) {
    EXPECT_EQ(ProgressPercentText(ProgressFraction(5, 0, 10)), u"50%");
    EXPECT_EQ(ProgressPercentText(ProgressFraction(15, 10, 20)), u"50%");
    EXPECT_EQ(ProgressPercentText(ProgressFraction(-5, -10, 0)), u"50%");
    EXPECT_EQ(ProgressPercentText(ProgressFraction(1, 0, 3)), u"33%");
    EXPECT_EQ(ProgressPercentText(ProgressFraction(2, 0, 3)), u"66%");
    EXPECT_EQ(ProgressPercentText(ProgressFraction(-1, 0, 100)), u"-1%");
}

TEST(ProgressFilledWidth, QuotientFirstThenProductTruncated) {
    struct Case {
        int32_t position;
        int32_t width;
        int32_t expected;
    };
    const Case cases[] = {
        {0, 200, 0},    {100, 200, 200}, {50, 200, 100}, {29, 200, 57},  // 29 × 200 / 100 would be 58
        {57, 200, 113}, {58, 200, 115},  {1, 200, 2},    {0, 73, 0},
        {1, 73, 0},  // a narrow bar: 0 and 1 fill the same pixels
        {2, 73, 1},     {99, 73, 72},    {100, 73, 73},  {50, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ProgressFilledWidth(ProgressFraction(c.position, 0, 100), c.width), c.expected)
            << c.position << " of width " << c.width;
    }
}

TEST(ProgressFilledWidth, ExtremeInputsStayInRange) {
    const int32_t maxInt = std::numeric_limits<int32_t>::max();
    const int32_t minInt = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(ProgressFraction(maxInt, minInt, maxInt), 1.0);
    EXPECT_EQ(ProgressFilledWidth(ProgressFraction(maxInt, 0, 1), 1000), maxInt);
    EXPECT_EQ(ProgressFilledWidth(ProgressFraction(minInt, 0, 1), 1000), minInt);
    EXPECT_EQ(ProgressFilledWidth(ProgressFraction(0, 0, 0), 100), 0);  // empty range: 0 / 0
    EXPECT_EQ(ProgressPercentText(ProgressFraction(1, 0, 0)), Ascii(std::to_string(maxInt).c_str()) + u"%");
}

}  // namespace
}  // namespace quentaro
