// The installed bytes are the checked bytes, and a failed write leaves the folder as it was: the
// package changed between the checks and the extraction, and faults while a file that already
// exists is rewritten.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/checks.h"
#include "core/extract.h"
#include "core/messages.h"
#include "fake_ports.h"
#include "package_fixtures.h"

namespace quentaro {
namespace {

using fakes::Rig;
using fixtures::Entry;
using fixtures::Package;
using fixtures::Repeat;

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

const std::u16string kDest = u"C:\\dest\\";

std::map<std::u16string, std::vector<std::uint8_t>> Contents(const fakes::FakeFileSystem& files) {
    std::map<std::u16string, std::vector<std::uint8_t>> contents;
    for (const auto& [path, file] : files.files) contents[path] = file.data;
    return contents;
}

// The install job's steps: the three checks on the package as it is, then `change` (another
// program at work), then the extraction.
struct Steps {
    int checks = 0;
    int extraction = -1;
};
Steps RunSteps(Rig& rig, void (*change)(Rig&)) {
    Steps steps;
    steps.checks = CheckSignature(rig.engine) + CheckVersion(rig.engine) + CheckCrc(rig.engine);
    change(rig);
    steps.extraction = ExtractFiles(rig.engine);
    return steps;
}

TEST(PackageIntegrity, APackageChangedAfterTheChecksIsNeverInstalledAsChecked) {
    const std::vector<std::uint8_t> checked =
        Package({Entry("QUENTARO.exe", 0, "checked application"), Entry("data.dat", 0, Repeat('c', 600))});
    // A package whose entries are good but whose signature and check value are broken: alone it
    // fails both checks.
    static std::vector<std::uint8_t> broken;
    broken = Package({Entry("QUENTARO.exe", 0, "other application"), Entry("data.dat", 0, Repeat('o', 600))});
    broken[0] = 'X';
    broken[broken.size() - 1] ^= 0xFF;
    {
        Rig alone;
        alone.store.bytes = broken;
        EXPECT_EQ(CheckSignature(alone.engine), 0);
        EXPECT_EQ(CheckCrc(alone.engine), 0);
    }

    struct Case {
        const char* what;
        void (*change)(Rig&);
        const char16_t* message;  // null: the checked package is installed
    };
    const Case cases[] = {
        {"unchanged", [](Rig&) {}, nullptr},
        {"replaced by a package that fails both checks", [](Rig& r) { r.store.bytes = broken; },
         kMsgDataFileDamaged},
        {"one byte of an entry's data changed",
         [](Rig& r) { r.store.bytes[r.store.bytes.size() - 10] ^= 0x01; }, kMsgDataFileDamaged},
        {"truncated after the entry table", [](Rig& r) { r.store.bytes.resize(32 + 2 * 64 + 5); },
         kMsgDataFileDamaged},
        {"removed", [](Rig& r) { r.store.present = false; }, kMsgDataFileNotFound},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.store.bytes = checked;
        const Steps steps = RunSteps(rig, c.change);
        EXPECT_EQ(steps.checks, 3) << c.what;
        EXPECT_FALSE(rig.store.isOpen) << c.what;
        if (c.message == nullptr) {
            EXPECT_EQ(steps.extraction, 1) << c.what;
            EXPECT_TRUE(rig.ui.errors.empty()) << c.what;
            EXPECT_EQ(rig.files.files[kDest + u"QUENTARO.exe"].data, Bytes("checked application"));
            EXPECT_EQ(rig.files.files[kDest + u"data.dat"].data, Bytes(Repeat('c', 600)));
        } else {
            // Detected before the first file: the message, nothing written, not even a log line.
            EXPECT_EQ(steps.extraction, 0) << c.what;
            EXPECT_EQ(rig.ui.errors, std::vector<std::u16string>{c.message}) << c.what;
            EXPECT_TRUE(rig.files.files.empty()) << c.what;
            EXPECT_EQ(rig.ui.log, u"") << c.what;
            EXPECT_EQ(rig.ui.maxProgress, 50) << c.what;
        }
    }
}

TEST(PackageIntegrity, AFailedWriteKeepsTheOldFileAndLeavesNoOtherFile) {
    // A second installation over a first one: "second" exists with its old content.
    const std::vector<std::uint8_t> package = Package(
        {Entry("first", 0, Repeat('1', 300)), Entry("second", 0, Repeat('2', 600)), Entry("third", 0, "3")});
    const std::u16string first = kDest + u"first";
    const std::u16string second = kDest + u"second";
    const std::vector<std::uint8_t> old = Bytes("the first installation's second file");
    struct Case {
        const char* what;
        void (*arrange)(Rig&);
        const char16_t* message;
        bool firstWritten;  // "first" was written completely before the fault
    };
    const Case cases[] = {
        {"disk full", [](Rig& r) { r.files.capacity = 300 + 400; }, kMsgDiskFull, true},
        {"write error", [](Rig& r) { r.files.failWritesTo = u"C:\\dest\\second"; }, kMsgFileWriteFailed,
         true},
        {"read error",
         [](Rig& r) { r.store.ioErrorAt = 32 + 3 * 64 + 300 + 500; },  // inside the data of "second"
         kMsgDataFileReadFailed, true},
        {"times cannot be set", [](Rig& r) { r.files.failTimes = true; }, kMsgFileWriteFailed, false},
        {"close fails", [](Rig& r) { r.files.failClose = true; }, kMsgFileWriteFailed, false},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.files.files[second].data = old;
        rig.store.bytes = package;
        c.arrange(rig);
        EXPECT_EQ(ExtractFiles(rig.engine), 0) << c.what;
        EXPECT_EQ(rig.ui.errors, std::vector<std::u16string>{c.message}) << c.what;
        // The old file as it was, the file written before the fault whole, and nothing else: no
        // partial file under any name.
        std::map<std::u16string, std::vector<std::uint8_t>> expected{{second, old}};
        if (c.firstWritten) expected[first] = Bytes(Repeat('1', 300));
        EXPECT_EQ(Contents(rig.files), expected) << c.what;
    }
}

}  // namespace
}  // namespace quentaro
