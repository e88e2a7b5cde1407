// The engine's errors: the text each one shows, and which error each failure of the install job's
// steps gives, told apart also where two errors show the same text.
#include "core/messages.h"

#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/checks.h"
#include "core/extract.h"
#include "fake_ports.h"
#include "package_fixtures.h"

namespace quentaro {
namespace {

using fakes::Rig;
using fixtures::Entry;
using fixtures::Package;

std::u16string Text(const char16_t* message) {
    return message == nullptr ? u"(none)" : std::u16string(message);
}

TEST(MessageOf, EveryErrorShowsItsText) {
    const struct {
        InstallError error;
        const char16_t* text;  // null: nothing is shown
    } cases[] = {
        {InstallError::kNone, nullptr},
        {InstallError::kDataFileNotFound, u"ﾃﾞｰﾀﾌｧｲﾙが見つかりません。ｾｯﾄｱｯﾌﾟを終了します。"},
        {InstallError::kDataFileReplaced, u"ﾃﾞｰﾀﾌｧｲﾙが壊れています。ｾｯﾄｱｯﾌﾟを終了します。"},
        {InstallError::kDataFileDamaged, u"ﾃﾞｰﾀﾌｧｲﾙが壊れています。ｾｯﾄｱｯﾌﾟを終了します。"},
        {InstallError::kDataFileReadFailed, u"ﾃﾞｰﾀﾌｧｲﾙの読み込みに失敗しました。ｾｯﾄｱｯﾌﾟを終了します。"},
        {InstallError::kFileNotCreated, u"ﾃﾞｰﾀﾌｧｲﾙが見つかりません。ｾｯﾄｱｯﾌﾟを終了します。"},
        {InstallError::kFileWriteFailed, u"ﾌｧｲﾙの書き込みに失敗しました。ｾｯﾄｱｯﾌﾟを終了します。"},
        {InstallError::kDiskFull, u"ﾃﾞｨｽｸの空き容量が不足しています。ｾｯﾄｱｯﾌﾟを終了します。"},
        {InstallError::kDriverInstallerFailed,
         u"ﾄﾞﾗｲﾊﾞｰのｲﾝｽﾄｰﾙﾌﾟﾛｸﾞﾗﾑを起動出来ません。ｾｯﾄｱｯﾌﾟを終了します。"},
        {InstallError::kNothingToInstall, nullptr},
    };
    // Every error is in the table, in the order of the enumeration.
    ASSERT_EQ(std::size(cases), static_cast<std::size_t>(InstallError::kNothingToInstall) + 1);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(cases[i].error), i);
        EXPECT_EQ(Text(MessageOf(cases[i].error)), Text(cases[i].text)) << i;
    }

    // Two errors show one text only where the setup has always said the same for both.
    const std::set<std::pair<InstallError, InstallError>> shared = {
        {InstallError::kDataFileNotFound, InstallError::kFileNotCreated},
        {InstallError::kDataFileReplaced, InstallError::kDataFileDamaged},
    };
    for (const auto& a : cases) {
        for (const auto& b : cases) {
            if (a.error >= b.error || a.text == nullptr || b.text == nullptr) continue;
            const bool same = Text(MessageOf(a.error)) == Text(MessageOf(b.error));
            EXPECT_EQ(same, shared.count({a.error, b.error}) == 1)
                << static_cast<int>(a.error) << " " << static_cast<int>(b.error);
        }
    }
}

// The install job's steps as the kind-returning functions, stopping at the first that fails.
struct JobResult {
    int failedStep = -1;  // 0 to 3: signature, version, check value, extraction; -1: none failed
    InstallError error = InstallError::kNone;
};

JobResult RunJob(Rig& rig, void (*afterChecks)(Rig&)) {
    InstallError (*const checks[])(const InstallEngine&) = {VerifySignature, VerifyVersion, VerifyCrc};
    JobResult result;
    for (int step = 0; step < 3; ++step) {
        result.error = checks[step](rig.engine);
        if (result.error != InstallError::kNone) {
            result.failedStep = step;
            return result;
        }
    }
    afterChecks(rig);
    result.error = ExtractPackage(rig.engine);
    if (result.error != InstallError::kNone) result.failedStep = 3;
    return result;
}

// The same steps through the install page's operations.
int RunPageJob(Rig& rig, void (*afterChecks)(Rig&)) {
    if (!CheckSignature(rig.engine) || !CheckVersion(rig.engine) || !CheckCrc(rig.engine)) return 0;
    afterChecks(rig);
    return ExtractFiles(rig.engine);
}

TEST(InstallError, EachFailureOfTheJobHasItsOwnError) {
    const std::vector<std::uint8_t> good =
        Package({Entry("QUENTARO.exe", 0, "application"), Entry("data.dat", 0, fixtures::Repeat('d', 600))});
    std::vector<std::uint8_t> badSignature = good;
    badSignature[0] = 'X';
    std::vector<std::uint8_t> badCheckValue = good;
    badCheckValue.back() ^= 0xFF;
    std::vector<std::uint8_t> badVersion = good;
    badVersion[16] = 'W';
    pack::SealImage(badVersion);
    const std::vector<std::uint8_t> systemOnly = Package({Entry("QU%xdrv.sys", 3, "driver")});
    static const std::u16string kData = u"C:\\dest\\data.dat";

    const struct {
        const char* what;
        std::int32_t kind;
        std::vector<std::uint8_t> package;
        void (*arrange)(Rig&);
        void (*afterChecks)(Rig&);
        int failedStep;
        InstallError error;
    } cases[] = {
        {"installed", 0, good, [](Rig&) {}, [](Rig&) {}, -1, InstallError::kNone},
        {"no package", 0, good, [](Rig& r) { r.store.present = false; }, [](Rig&) {}, 0,
         InstallError::kDataFileNotFound},
        {"read error in the header", 0, good, [](Rig& r) { r.store.ioErrorAt = 2; }, [](Rig&) {}, 0,
         InstallError::kDataFileReadFailed},
        {"signature", 0, badSignature, [](Rig&) {}, [](Rig&) {}, 0, InstallError::kDataFileDamaged},
        {"version", 0, badVersion, [](Rig&) {}, [](Rig&) {}, 1, InstallError::kDataFileDamaged},
        {"check value", 0, badCheckValue, [](Rig&) {}, [](Rig&) {}, 2, InstallError::kDataFileDamaged},
        {"removed after the checks", 0, good, [](Rig&) {}, [](Rig& r) { r.store.present = false; }, 3,
         InstallError::kDataFileNotFound},
        {"replaced after the checks", 0, good, [](Rig&) {}, [](Rig& r) { r.store.bytes.back() ^= 1; }, 3,
         InstallError::kDataFileReplaced},
        {"read error in the check value", 0, good,
         [](Rig& r) { r.store.ioErrorAt = r.store.bytes.size() - 5; }, [](Rig&) {}, 2,
         InstallError::kDataFileReadFailed},
        {"read error while copying", 0, good, [](Rig&) {},
         [](Rig& r) { r.store.ioErrorAt = r.store.bytes.size() - 5; }, 3, InstallError::kDataFileReadFailed},
        {"file cannot be created", 0, good, [](Rig& r) { r.files.refused.insert(kData); }, [](Rig&) {}, 3,
         InstallError::kFileNotCreated},
        {"old file cannot be replaced", 0, good, [](Rig& r) { r.files.failCommitTo.insert(kData); },
         [](Rig&) {}, 3, InstallError::kFileNotCreated},
        {"write error", 0, good, [](Rig& r) { r.files.failWritesTo = kData; }, [](Rig&) {}, 3,
         InstallError::kFileWriteFailed},
        {"times", 0, good, [](Rig& r) { r.files.failTimes = true; }, [](Rig&) {}, 3,
         InstallError::kFileWriteFailed},
        {"disk full", 0, good, [](Rig& r) { r.files.capacity = 100; }, [](Rig&) {}, 3,
         InstallError::kDiskFull},
        {"disk full at close", 0, good,
         [](Rig& r) {
             r.files.failClose = true;
             r.files.closeFailure = WriteStatus::kDiskFull;
         },
         [](Rig&) {}, 3, InstallError::kDiskFull},
        {"driver installer", 5, good, [](Rig& r) { r.shell.starts = false; }, [](Rig&) {}, 3,
         InstallError::kDriverInstallerFailed},
        {"nothing for the destination folder", 3, systemOnly, [](Rig&) {}, [](Rig&) {}, 3,
         InstallError::kNothingToInstall},
    };
    for (const auto& c : cases) {
        // The kind-returning steps show nothing and close the package on every way out.
        Rig rig(c.kind);
        rig.store.bytes = c.package;
        c.arrange(rig);
        const JobResult result = RunJob(rig, c.afterChecks);
        EXPECT_EQ(result.failedStep, c.failedStep) << c.what;
        EXPECT_EQ(result.error, c.error) << c.what;
        EXPECT_TRUE(rig.ui.errors.empty()) << c.what;
        if (c.failedStep >= 0) {
            EXPECT_FALSE(rig.store.isOpen) << c.what;
        }

        // The page's operations show that error's text, once, or nothing.
        Rig page(c.kind);
        page.store.bytes = c.package;
        c.arrange(page);
        EXPECT_EQ(RunPageJob(page, c.afterChecks), c.error == InstallError::kNone ? 1 : 0) << c.what;
        const std::vector<std::u16string> shown = MessageOf(c.error) == nullptr
                                                      ? std::vector<std::u16string>{}
                                                      : std::vector<std::u16string>{MessageOf(c.error)};
        EXPECT_EQ(page.ui.errors, shown) << c.what;
    }
}

TEST(MeasureInstallSize, GivesTheSumOrTheErrorWithZero) {
    std::vector<std::uint8_t> outside = Package({Entry("a", 0, "x")});
    fixtures::PatchU32(outside, kEntryCountOffset, 0xFFFFFFFF);
    const struct {
        const char* what;
        std::vector<std::uint8_t> package;
        bool present;
        InstallError error;
        std::uint64_t total;
    } cases[] = {
        {"sum", Package({Entry("a", 0, "abc"), Entry("b", 3, "xyz"), Entry("c", 0, "de")}), true,
         InstallError::kNone, 5},
        {"nothing", Package({Entry("b", 3, "xyz")}), true, InstallError::kNone, 0},
        {"no package", {}, false, InstallError::kDataFileNotFound, 0},
        {"table outside", outside, true, InstallError::kDataFileDamaged, 0},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.store.bytes = c.package;
        rig.store.present = c.present;
        std::uint64_t total = 99;
        EXPECT_EQ(MeasureInstallSize(rig.engine, total), c.error) << c.what;
        EXPECT_EQ(total, c.total) << c.what;
        EXPECT_TRUE(rig.ui.errors.empty()) << c.what;
        EXPECT_FALSE(rig.store.isOpen) << c.what;
    }
}

}  // namespace
}  // namespace quentaro
