#include "core/platform.h"

#include <gtest/gtest.h>

namespace quentaro {
namespace {

constexpr uint32_t kWindows = 1;  // VER_PLATFORM_WIN32_WINDOWS (95, 98, Me)
constexpr uint32_t kNt = 2;

struct KindCase {
    const char* name;
    VersionReport version;
    bool underWow64;
    int32_t expectedKind;
    bool expectWow64Asked;
};

const KindCase kKindCases[] = {
    {"GetVersionExW fails", {false, kNt, 6, 1}, true, 0, false},
    {"Windows 95", {true, kWindows, 4, 0}, false, -1, false},
    {"Windows 98", {true, kWindows, 4, 10}, false, -1, false},
    {"Windows Me", {true, kWindows, 4, 90}, false, -1, false},
    {"non-NT with a 6.x number", {true, kWindows, 6, 1}, true, -1, false},
    {"Win32s", {true, 0, 3, 10}, false, -1, false},
    {"NT 3.51", {true, kNt, 3, 51}, false, -1, false},
    {"NT 4.0", {true, kNt, 4, 0}, true, -1, false},
    {"Windows 2000", {true, kNt, 5, 0}, false, 1, false},
    {"Windows 2000 with WOW64 answering yes", {true, kNt, 5, 0}, true, 1, false},
    {"Windows XP", {true, kNt, 5, 1}, false, 2, false},
    {"Server 2003", {true, kNt, 5, 2}, false, 2, false},
    {"64-bit XP / Server 2003", {true, kNt, 5, 2}, true, 2, false},
    {"Vista 32-bit", {true, kNt, 6, 0}, false, 3, true},
    {"Vista 64-bit", {true, kNt, 6, 0}, true, 4, true},
    {"Windows 7 32-bit", {true, kNt, 6, 1}, false, 5, true},
    {"Windows 7 64-bit", {true, kNt, 6, 1}, true, 4, true},
    {"Windows 8 32-bit", {true, kNt, 6, 2}, false, 5, true},
    {"Windows 8 64-bit", {true, kNt, 6, 2}, true, 4, true},
    {"Windows 8.1 32-bit", {true, kNt, 6, 3}, false, 5, true},
    {"Windows 8.1 64-bit", {true, kNt, 6, 3}, true, 4, true},
    {"10.0 reported, 32-bit", {true, kNt, 10, 0}, false, 3, true},
    {"10.0 reported, 64-bit", {true, kNt, 10, 0}, true, 4, true},
    {"7.5, 32-bit", {true, kNt, 7, 5}, false, 5, true},
};

TEST(GetPlatformKind, ClassifiesEveryVersionRow) {
    for (const KindCase& c : kKindCases) {
        int asked = 0;
        const int32_t kind = GetPlatformKind(c.version, [&] {
            ++asked;
            return c.underWow64 ? 1 : 0;
        });
        EXPECT_EQ(kind, c.expectedKind) << c.name;
        EXPECT_EQ(asked, c.expectWow64Asked ? 1 : 0) << c.name;
    }
}

TEST(GetPlatformKind, AnyNonZeroWow64AnswerMeansWow64) {
    const int32_t kind = GetPlatformKind({true, kNt, 6, 1}, [] { return -1; });
    EXPECT_EQ(kind, 4);
}

// The whole chain as the destination page uses it, including a kernel32 without IsWow64Process.
TEST(GetPlatformKind, MissingIsWow64ProcessMeansNotWow64) {
    const IsWow64ProcessCall missing;
    const Wow64Query query = [&] { return IsWow64(missing); };
    EXPECT_EQ(GetPlatformKind({true, kNt, 6, 0}, query), 3);
    EXPECT_EQ(GetPlatformKind({true, kNt, 6, 1}, query), 5);
    EXPECT_EQ(GetPlatformKind({true, kNt, 10, 0}, query), 3);
}

struct Wow64Case {
    const char* name;
    bool present;
    bool writesFlag;
    int32_t written;
    int32_t expected;
};

const Wow64Case kWow64Cases[] = {
    {"function missing", false, false, 0, 0},
    {"32-bit Windows answers FALSE", true, true, 0, 0},
    {"64-bit Windows answers TRUE", true, true, 1, 1},
    {"call fails without touching the flag", true, false, 0, 0},
};

TEST(IsWow64, ReturnsTheFlagPresetToZero) {
    for (const Wow64Case& c : kWow64Cases) {
        int calls = 0;
        int32_t flagOnEntry = -12345;
        IsWow64ProcessCall call;
        if (c.present) {
            call = [&](int32_t& flag) {
                ++calls;
                flagOnEntry = flag;
                if (c.writesFlag) flag = c.written;
            };
        }
        EXPECT_EQ(IsWow64(call), c.expected) << c.name;
        EXPECT_EQ(calls, c.present ? 1 : 0) << c.name;
        EXPECT_EQ(flagOnEntry, c.present ? 0 : -12345) << c.name;
    }
}

}  // namespace
}  // namespace quentaro
