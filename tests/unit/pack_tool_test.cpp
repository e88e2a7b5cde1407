#include "tools/pack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/checks.h"
#include "core/extract.h"
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
        {"name=b\ttime=20080401123456\ttarget=0\tsource=missing.bin", "932", "does not exist"},
        {"name=b\ttime=20080401123456\ttarget=0\tsource=bin", "932", "does not exist"},
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

}  // namespace
}  // namespace quentaro
