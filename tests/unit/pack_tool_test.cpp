#include "tools/pack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/checks.h"
#include "core/extract.h"
#include "core/messages.h"
#include "fake_ports.h"

namespace quentaro {
namespace {

namespace fs = std::filesystem;

class PackTool : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quentaro-pack-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        Write("bin/app.exe", "MZ application");
        Write("empty.txt", "");
        Write("drv.sys", std::string(300, 's'));
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void Write(const std::string& name, const std::string& contents) {
        fs::create_directories((m_dir / name).parent_path());
        std::ofstream(m_dir / name, std::ios::binary) << contents;
    }
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    int Run(const std::vector<std::string>& args) {
        m_out.str("");
        m_err.str("");
        return pack::RunPackTool(args, m_out, m_err);
    }
    int Build(const std::string& manifest, const std::string& codePage = "932") {
        Write("manifest.txt", manifest);
        return Run({"build", "--codepage", codePage, "--manifest", Path("manifest.txt"), "--output",
                    Path("out.cab")});
    }
    std::vector<std::uint8_t> Output() const {
        std::ifstream in(m_dir / "out.cab", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path m_dir;
    std::ostringstream m_out;
    std::ostringstream m_err;
};

const char kGood[] =
    "# the demo package\n"
    "\n"
    "name=QUENTARO.exe\ttime=20080401123456\ttarget=0\tsource=bin/app.exe\n"
    "   # indented comment\n"
    "source=empty.txt\ttarget=0\tname=表示.txt\ttime=19991231235959\r\n"
    "name=QU%xdrv.sys\ttime=20080401123456\ttarget=3\tsource=drv.sys\n";

TEST_F(PackTool, BuildListVerifyRoundTrip) {
    ASSERT_EQ(Build(kGood), 0) << m_err.str();
    const std::vector<std::uint8_t> image = Output();
    ASSERT_EQ(image.size(), 32u + 3 * 64 + 14 + 0 + 300 + 2);

    ASSERT_EQ(Run({"list", Path("out.cab")}), 0) << m_err.str();
    const std::string listing = m_out.str();
    for (const char* expected : {"KJ47", "V1.0", "entries:    3", "QUENTARO.exe", "表示.txt", "QU%xdrv.sys",
                                 "2008-04-01 12:34:56", "1999-12-31 23:59:59", "224", "238", "300"}) {
        EXPECT_NE(listing.find(expected), std::string::npos) << expected << "\n" << listing;
    }

    EXPECT_EQ(Run({"verify", Path("out.cab")}), 0) << m_out.str() << m_err.str();
    EXPECT_EQ(m_out.str(), "signature: ok\nversion: ok\ncheck value: ok\nformat: ok\n");

    // The setup itself accepts and installs it.
    fakes::Rig rig(5);
    pack::CodePageDecoder names(932);
    InstallEngine engine{rig.store, rig.ui, rig.files,   names,     rig.clock,
                         rig.shell, 5,      u"C:\\dest", u"C:\\sys"};
    rig.store.bytes = image;
    EXPECT_EQ(CheckSignature(engine) + CheckVersion(engine) + CheckCrc(engine), 3);
    EXPECT_EQ(ExtractFiles(engine), 1);
    EXPECT_TRUE(rig.ui.errors.empty());
    EXPECT_EQ(rig.files.createOrder,
              (std::vector<std::u16string>{u"C:\\dest\\QUENTARO.exe", u"C:\\dest\\表示.txt",
                                           u"C:\\dest\\QU%xdrv.sys"}));
    const std::string app = "MZ application";
    EXPECT_EQ(rig.files.files[u"C:\\dest\\QUENTARO.exe"].data,
              std::vector<std::uint8_t>(app.begin(), app.end()));
    EXPECT_EQ(rig.files.files[u"C:\\dest\\QU%xdrv.sys"].data.size(), 300u);
}

TEST_F(PackTool, NamesAreEncodedInTheGivenCodePage) {
    ASSERT_EQ(Build("name=表\ttime=20080401123456\ttarget=0\tsource=empty.txt\n", "932"), 0) << m_err.str();
    std::vector<std::uint8_t> image = Output();
    EXPECT_EQ(image[32], 0x95);
    EXPECT_EQ(image[33], 0x5C);
    EXPECT_EQ(image[34], 0x00);
    ASSERT_EQ(Build("name=café\ttime=20080401123456\ttarget=0\tsource=empty.txt\n", "1252"), 0)
        << m_err.str();
    image = Output();
    EXPECT_EQ(std::string(image.begin() + 32, image.begin() + 37), std::string("caf\xE9\0", 5));
    // Sixteen double-byte characters fill the 32 bytes without a terminator.
    ASSERT_EQ(
        Build("name=表表表表表表表表表表表表表表表表\ttime=20080401123456\ttarget=0\tsource=empty.txt\n"), 0)
        << m_err.str();
    image = Output();
    EXPECT_EQ(image[32 + 31], 0x5C);
    EXPECT_EQ(image[32 + 32], '2');  // the time stamp follows at once
    EXPECT_EQ(Run({"verify", Path("out.cab")}), 0) << m_out.str();
}

TEST_F(PackTool, BadManifestNamesTheLineAndWritesNoPackage) {
    const std::string ok = "name=a\ttime=20080401123456\ttarget=0\tsource=empty.txt\n";
    const struct {
        std::string line;  // the bad line, after a comment and a good line
        std::string codePage;
        std::string message;
    } cases[] = {
        {"name=b\ttime=20080401123456\ttarget=0\tsource=empty.txt\tcolor=red", "932",
         "unknown field \"color\""},
        {"name=b\ttime=20080401123456\ttarget=0", "932", "\"source\" is missing"},
        {"name=b\tname=c\ttime=20080401123456\ttarget=0\tsource=empty.txt", "932", "given twice"},
        {"name=b\tjunk\ttime=20080401123456\ttarget=0\tsource=empty.txt", "932", "not of the form"},
        {"name=" + std::string(33, 'n') + "\ttime=20080401123456\ttarget=0\tsource=empty.txt", "932",
         "33 bytes"},
        {"name=表表表表表表表表表表表表表表表表表\ttime=20080401123456\ttarget=0\tsource=empty.txt", "932",
         "34 bytes"},
        {"name=表\ttime=20080401123456\ttarget=0\tsource=empty.txt", "1252", "cannot be encoded"},
        {"name=¥\ttime=20080401123456\ttarget=0\tsource=empty.txt", "932", "read back"},
        {"name=b\ttime=20080230123456\ttarget=0\tsource=empty.txt", "932", "not a real date"},
        {"name=b\ttime=20380119031408\ttarget=0\tsource=empty.txt", "932", "not a real date"},
        // Times that a computer in some time zone from UTC-12 to UTC+14 would refuse.
        {"name=b\ttime=19700101000000\ttarget=0\tsource=empty.txt", "932",
         "from 1970-01-01 14:00:00 to 2038-01-18 15:14:07"},
        {"name=b\ttime=19700101135959\ttarget=0\tsource=empty.txt", "932", "not a real date"},
        {"name=b\ttime=20380118151408\ttarget=0\tsource=empty.txt", "932", "not a real date"},
        {"name=b\ttime=20380119031407\ttarget=0\tsource=empty.txt", "932", "not a real date"},
        {"name=COM\u00b9\ttime=20080401123456\ttarget=0\tsource=empty.txt", "1252", "not a sound file name"},
        {"name=x%xlpt\u00b2.dll\ttime=20080401123456\ttarget=2\tsource=empty.txt", "1252",
         "not a sound file name"},
        {"name=b\ttime=2008040112345\ttarget=0\tsource=empty.txt", "932", "14 digits"},
        {"name=b\ttime=20080401123456\ttarget=6\tsource=empty.txt", "932", "target"},
        {"name=b\ttime=20080401123456\ttarget=0\tsource=missing.bin", "932",
         "missing.bin\": No such file or directory"},
        {"name=b\ttime=20080401123456\ttarget=0\tsource=bin", "932", "is not a regular file"},
        {"name=..\ttime=20080401123456\ttarget=0\tsource=empty.txt", "932", "not a sound file name"},
        {"name=a\\b\ttime=20080401123456\ttarget=0\tsource=empty.txt", "1252", "not a sound file name"},
        {"name=ab%x\ttime=20080401123456\ttarget=2\tsource=empty.txt", "932", "not a sound file name"},
        {"name=\ttime=20080401123456\ttarget=0\tsource=empty.txt", "932", "empty"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Build("# comment\n" + ok + c.line + "\n" + ok, c.codePage), 1) << c.line;
        EXPECT_NE(m_err.str().find("manifest.txt: line 3: "), std::string::npos) << m_err.str();
        EXPECT_NE(m_err.str().find(c.message), std::string::npos) << m_err.str();
        EXPECT_FALSE(fs::exists(m_dir / "out.cab")) << c.line;
        EXPECT_FALSE(fs::exists(m_dir / "out.cab.partial")) << c.line;
    }
}

TEST_F(PackTool, VerifyFailsOnDamage) {
    ASSERT_EQ(Build(kGood), 0) << m_err.str();
    const std::vector<std::uint8_t> good = Output();
    const struct {
        std::size_t at;
        std::uint8_t value;
        const char* failed;
    } cases[] = {
        {0, 'k', "signature: FAILED"},
        {16, 'W', "version: FAILED"},
        {100, 0x42, "check value: FAILED"},
        {good.size() - 1, 0x00, "check value: FAILED"},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> image = good;
        image[c.at] = c.value;
        std::ofstream(m_dir / "bad.cab", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        EXPECT_EQ(Run({"verify", Path("bad.cab")}), 1);
        EXPECT_NE(m_out.str().find(c.failed), std::string::npos) << m_out.str();
    }
    // A well-sealed package that breaks the format limits.
    std::vector<std::uint8_t> image = good;
    WriteU32Le(image.data() + EntryRecordOffset(2) + kDataSizeOffset, 100000);
    pack::SealImage(image);
    std::ofstream(m_dir / "bad.cab", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    EXPECT_EQ(Run({"verify", Path("bad.cab")}), 1);
    EXPECT_NE(m_out.str().find("check value: ok"), std::string::npos);
    EXPECT_NE(m_out.str().find("format: FAILED: entry 2"), std::string::npos) << m_out.str();

    EXPECT_EQ(Run({"verify", Path("absent.cab")}), 1);
}

// The tool and the setup agree on time stamps: a stamp that build and verify accept is one that the
// setup accepts on a computer in any time zone from UTC-12 to UTC+14, and the tool refuses the rest.
TEST_F(PackTool, TimeStampsThatInstallInEveryTimeZone) {
    const struct {
        const char* stamp;
        bool everywhere;
    } cases[] = {
        {"19700101000000", false},  // refused by the setup from UTC+1 on
        {"19700101135959", false},  // refused at UTC+14
        {"19700101140000", true},  {"20080401123456", true},
        {"20380118151407", true},  {"20380118151408", false},  // refused at UTC-12
        {"20380119031407", false},                             // the last second at UTC only
    };
    for (const auto& c : cases) {
        const std::vector<std::uint8_t> image = pack::BuildImage({[&] {
            pack::ImageEntry entry;
            entry.name = {'a'};
            entry.timeStamp = c.stamp;
            entry.data = {'x'};
            return entry;
        }()});
        std::ofstream(m_dir / "stamp.cab", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        EXPECT_EQ(Run({"verify", Path("stamp.cab")}), c.everywhere ? 0 : 1) << c.stamp;
        if (!c.everywhere) {
            EXPECT_NE(m_out.str().find("2038-01-18 15:14:07"), std::string::npos) << m_out.str();
        }
        EXPECT_EQ(Build(std::string("name=a\ttime=") + c.stamp + "\ttarget=0\tsource=empty.txt\n"),
                  c.everywhere ? 0 : 1)
            << c.stamp << m_err.str();

        // The setup itself, on computers at the two extreme offsets and at UTC.
        bool installsEverywhere = true;
        for (std::int64_t offset : {-12 * 3600, 0, 9 * 3600, 14 * 3600}) {
            fakes::Rig rig;
            rig.clock.offset = offset;
            rig.store.bytes = image;
            installsEverywhere = installsEverywhere && ExtractFiles(rig.engine) == 1;
        }
        EXPECT_EQ(installsEverywhere, c.everywhere) << c.stamp;
    }
}

TEST_F(PackTool, WrongUsage) {
    EXPECT_EQ(Run({}), 2);
    EXPECT_EQ(Run({"frobnicate"}), 2);
    EXPECT_EQ(Run({"build", "--manifest", "m"}), 2);
    EXPECT_EQ(Run({"build", "--codepage", "437", "--manifest", "m", "--output", "o"}), 2);
    EXPECT_EQ(Run({"list"}), 2);
    EXPECT_EQ(Run({"verify", "a", "b"}), 2);
    EXPECT_EQ(Run({"list", "--bogus", "a"}), 2);
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST_F(PackTool, HelpGoesToStandardOutput) {
    const struct {
        std::vector<std::string> args;
        const char* shown;  // in the help text
    } cases[] = {
        {{"--help"}, "--codepage 932|1252  the code page"},
        {{"-h"}, "optional, default 932"},
        {{"help"}, "usage: quentaro-pack build [--codepage 932|1252] [--werror] --manifest"},
        {{"help", "build"}, "--codepage 932|1252   optional, default 932"},
        {{"help", "verify"}, "--werror              optional"},
        {{"help", "list"}, "usage: quentaro-pack list [--codepage 932|1252] PACKAGE"},
        {{"build", "--help"}, "--manifest MANIFEST   required"},
        {{"verify", "-h"}, "Runs the setup's own checks"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.args), 0) << c.args[0];
        EXPECT_NE(m_out.str().find(c.shown), std::string::npos) << m_out.str();
        EXPECT_EQ(m_err.str(), "") << c.args[0];
    }
    // Wrong usage stays on standard error.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"help", "frobnicate"}, {"help", "build", "list"}, {"list", "--werror", "a"}}) {
        EXPECT_EQ(Run(args), 2);
        EXPECT_EQ(m_out.str(), "");
        EXPECT_NE(m_err.str().find("usage: quentaro-pack"), std::string::npos) << m_err.str();
    }
}

// What build says about a manifest, and verify about the package built from it: every error at once
// with its line, or the warnings of what the setup would install only in part, naming the classes of
// Windows concerned.
TEST_F(PackTool, ManifestErrorsAndWarnings) {
    Write("QUENTARO.exe", "MZ app");
    const std::string app = "name=QUENTARO.exe\ttime=20080401123456\ttarget=0\tsource=QUENTARO.exe\n";
    const std::string driver =
        "name=QuentaroDriver32setup.exe\ttime=20080401123456\ttarget=0\tsource=bin/app.exe\n"
        "name=Quentaro.inf\ttime=20080401123456\ttarget=0\tsource=empty.txt\n";
    const std::string allKinds =
        "Windows 2000, XP, Vista 32-bit, 64-bit, 7 and later 32-bit (platform kinds 1, 2, 3, 4, 5)";
    const struct {
        const char* what;
        std::string manifest;
        std::vector<std::string> werrorArgs;  // extra arguments
        int status;
        std::vector<std::string> said;  // each in standard error
        std::size_t warnings;           // lines starting "warning: "
    } cases[] = {
        {"complete", "# full\n" + app + driver, {}, 0, {}, 0},
        {"byte-order mark", "\xEF\xBB\xBF" + app + driver, {}, 0, {}, 0},
        {"blanks for TABs",
         app + "name=a time=20080401123456 target=0 source=empty.txt\n" + driver,
         {},
         1,
         {"line 2: fields are separated by TAB characters, not blanks (a blank comes before \"time=\")",
          "1 error, no package written"},
         0},
        {"every error",
         "name=a\ttime=2008\ttarget=0\tsource=empty.txt\n" + app +
             "name=b\ttime=20080401123456\ttarget=9\tsource=nowhere.bin\n" + driver +
             "name=c\ttime=20080401123456\n",
         {},
         1,
         {"line 1: time \"2008\" is not 14 digits", "line 3: target \"9\"",
          "nowhere.bin\": No such file or directory", "line 6: field \"target\" is missing",
          "line 6: field \"source\" is missing", "5 errors, no package written"},
         0},
        {"no application",
         driver,
         {},
         0,
         {"warning: ", "no \"QUENTARO.exe\" goes to the destination folder on " + allKinds +
                           ": the setup makes no shortcuts"},
         1},
        {"no driver installer",
         app,
         {},
         0,
         {"no \"QuentaroDriver32setup.exe\" goes to the destination folder on Windows 7 and later 32-bit "
          "(platform kind 5): the setup stops with the driver installer message after writing the files"},
         1},
        {"nothing for some kinds",
         "name=QUENTARO.exe\ttime=20080401123456\ttarget=3\tsource=QUENTARO.exe\n",
         {},
         0,
         {"no data goes to the destination folder (no entry, or empty files only) on Windows 2000, XP, Vista "
          "32-bit, 64-bit (platform kinds "
          "1, "
          "2, 3, 4): the setup ends there without a message (exit code 1)",
          "no \"QuentaroDriver32setup.exe\""},
         2},
        {"empty files only",
         "name=QUENTARO.exe\ttime=20080401123456\ttarget=0\tsource=empty.txt\n",
         {},
         0,
         {"no data goes to the destination folder (no entry, or empty files only) on " + allKinds},
         1},
        {"same name in another case",
         app + driver + "name=quentaro.EXE\ttime=20080401123456\ttarget=0\tsource=empty.txt\n",
         {},
         0,
         {"line 4: \"quentaro.EXE\" goes to the destination folder under the same name as line 1 "
          "(\"QUENTARO.exe\") on " +
          allKinds + ": the later entry overwrites the earlier one"},
         1},
        {"same system name",
         app + driver + "name=a%xdrv.sys\ttime=20080401123456\ttarget=2\tsource=drv.sys\n" +
             "name=b%ydrv.sys\ttime=20080401123456\ttarget=2\tsource=drv.sys\n",
         {},
         0,
         {"line 5: \"drv.sys\" goes to the system folder under the same name as line 4 (\"drv.sys\") on "
          "Windows XP (platform kind 2)"},
         1},
        {"--werror",
         app,
         {"--werror"},
         1,
         {"error: ", "no \"QuentaroDriver32setup.exe\"", "[--werror]", "no package written"},
         0},
    };
    for (const auto& c : cases) {
        fs::remove(m_dir / "out.cab");
        Write("manifest.txt", c.manifest);
        std::vector<std::string> args = {"build", "--manifest", Path("manifest.txt"), "--output",
                                         Path("out.cab")};
        args.insert(args.end(), c.werrorArgs.begin(), c.werrorArgs.end());
        EXPECT_EQ(Run(args), c.status) << c.what << "\n" << m_err.str();
        const std::string built = m_err.str();
        for (const std::string& said : c.said)
            EXPECT_NE(built.find(said), std::string::npos) << c.what << "\n" << built;
        EXPECT_EQ(Count(built, "warning: "), c.warnings) << c.what << "\n" << built;
        EXPECT_EQ(fs::exists(m_dir / "out.cab"), c.status == 0) << c.what;
        EXPECT_FALSE(fs::exists(m_dir / "out.cab.partial")) << c.what;
        if (c.status != 0) continue;

        // verify finds the same in the package, naming entries (counted from 0) instead of lines.
        EXPECT_EQ(Run({"verify", Path("out.cab")}), 0) << c.what << m_err.str();
        EXPECT_EQ(Count(m_err.str(), "warning: "), c.warnings) << c.what << "\n" << m_err.str();
        for (std::string said : c.said) {
            for (int line = 9; line >= 1; --line) {
                const std::string from = "line " + std::to_string(line);
                for (std::size_t at = said.find(from); at != std::string::npos; at = said.find(from))
                    said.replace(at, from.size(), "entry " + std::to_string(line - 1));
            }
            EXPECT_NE(m_err.str().find(said), std::string::npos) << c.what << "\n" << m_err.str();
        }
        EXPECT_EQ(Run({"verify", "--werror", Path("out.cab")}), c.warnings == 0 ? 0 : 1) << c.what;
    }

    // A manifest that cannot be read says why.
    EXPECT_EQ(Run({"build", "--manifest", Path("absent.txt"), "--output", Path("out.cab")}), 1);
    EXPECT_NE(m_err.str().find("absent.txt: No such file or directory"), std::string::npos) << m_err.str();
    EXPECT_EQ(Run({"verify", Path("absent.cab")}), 1);
    EXPECT_NE(m_err.str().find("absent.cab: No such file or directory"), std::string::npos) << m_err.str();
}

// One line per class of Windows: the files written ("D" destination, "S" system folder, name and
// size), whether the driver installer runs, is delivered with Quentaro.inf, the shortcuts, the outcome.
std::string Summary(const pack::KindPlan& kind) {
    std::string text;
    for (const pack::PlannedFile& file : kind.files) {
        text += (file.folder == Destination::kSystemFolder ? "S:" : "D:") + pack::Utf16ToUtf8(file.name) +
                "/" + std::to_string(file.size) + " ";
    }
    text += std::string(kind.driverRuns ? "runs" : "-") + (kind.driverDelivered ? " exe" : "") +
            (kind.infDelivered ? " inf" : "") + (kind.shortcuts ? " | shortcuts | " : " | | ");
    switch (kind.outcome) {
    case pack::Outcome::kCompletes:
        return text + "completes";
    case pack::Outcome::kCompletesWithoutShortcuts:
        return text + "without shortcuts";
    case pack::Outcome::kStops:
        return text + "stops: " + pack::Utf16ToUtf8(kind.message);
    case pack::Outcome::kEndsWithoutMessage:
        return text + "silent";
    }
    return text;
}

TEST_F(PackTool, PlanPerClassOfWindows) {
    Write("QUENTARO.exe", "MZ app");
    Write("setup.exe", "MZ setup");
    Write("Quentaro.inf", "[Version]");
    const std::string app = "name=QUENTARO.exe\ttime=20080401123456\ttarget=0\tsource=QUENTARO.exe\n";
    const std::string system =
        "name=QU%xquentaro.sys\ttime=20080401123456\ttarget=2\tsource=drv.sys\n"
        "name=Q%yq64.sys\ttime=20080401123456\ttarget=4\tsource=bin/app.exe\n";
    const std::string driver =
        "name=QuentaroDriver32setup.exe\ttime=20080401123456\ttarget=3\tsource=setup.exe\n"
        "name=Quentaro.inf\ttime=20080401123456\ttarget=3\tsource=Quentaro.inf\n";
    const std::string stopped = "stops: " + pack::Utf16ToUtf8(kMsgDriverInstallerFailed);
    const struct {
        const char* what;
        std::string manifest;
        std::string kinds[5];
    } cases[] = {
        {"driver installer and system files",
         app + system + driver,
         {"D:QUENTARO.exe/6 - | shortcuts | completes",
          "D:QUENTARO.exe/6 S:quentaro.sys/300 - | shortcuts | completes",
          "D:QUENTARO.exe/6 S:QuentaroDriver32setup.exe/8 S:Quentaro.inf/9 - | shortcuts | completes",
          "D:QUENTARO.exe/6 S:q64.sys/14 - | shortcuts | completes",
          "D:QUENTARO.exe/6 D:QuentaroDriver32setup.exe/8 D:Quentaro.inf/9 runs exe inf | shortcuts | "
          "completes"}},
        {"no driver installer",
         app + system,
         {"D:QUENTARO.exe/6 - | shortcuts | completes",
          "D:QUENTARO.exe/6 S:quentaro.sys/300 - | shortcuts | completes",
          "D:QUENTARO.exe/6 - | shortcuts | completes",
          "D:QUENTARO.exe/6 S:q64.sys/14 - | shortcuts | completes", "D:QUENTARO.exe/6 runs | | " + stopped}},
        {"no application, destination files only on kind 5 (the others write nothing at all)",
         "name=readme.txt\ttime=20080401123456\ttarget=3\tsource=bin/app.exe\n" + system + driver,
         {"- | | silent", "- | | silent", "- | | silent", "- | | silent",
          "D:readme.txt/14 D:QuentaroDriver32setup.exe/8 D:Quentaro.inf/9 runs exe inf | | without "
          "shortcuts"}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Build(c.manifest), 0) << c.what << m_err.str();
        pack::PackagePlan plan;
        std::string error;
        ASSERT_TRUE(pack::PlanPackage(Path("out.cab"), 932, plan, error)) << error;
        EXPECT_EQ(plan.length, fs::file_size(m_dir / "out.cab"));
        EXPECT_EQ(pack::Utf16ToUtf8(plan.neededSpace), "必要容量: 0.0 MB");
        ASSERT_EQ(plan.kinds.size(), 5u);
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(plan.kinds[k].kind, k + 1);
            EXPECT_EQ(Summary(plan.kinds[k]), c.kinds[k]) << c.what << ", platform kind " << k + 1;
        }
    }

    // The command: the entry behind a system file name, its time; JSON with the message.
    ASSERT_EQ(Build(app + system), 0);
    ASSERT_EQ(Run({"plan", Path("out.cab")}), 0) << m_err.str();
    EXPECT_NE(
        m_out.str().find("2008-04-01 12:34:56         300  quentaro.sys  (entry 1 \"QU%xquentaro.sys\")"),
        std::string::npos)
        << m_out.str();
    ASSERT_EQ(Run({"plan", "--json", Path("out.cab")}), 0) << m_err.str();
    EXPECT_NE(m_out.str().find("\"outcome\": \"stops\", \"message\": \"" +
                               pack::Utf16ToUtf8(kMsgDriverInstallerFailed) + "\"}"),
              std::string::npos)
        << m_out.str();
    EXPECT_EQ(Run({"plan", Path("absent.cab")}), 1);
    EXPECT_NE(m_err.str().find("No such file or directory"), std::string::npos);
}

}  // namespace
}  // namespace quentaro
