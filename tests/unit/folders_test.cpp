#include "core/folders.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace quentaro {
namespace {

using Folders = std::vector<std::u16string>;

TEST(TrimmedLeadingWhiteSpace, LeavesOutBlanksAndControlWhiteSpaceAtTheFrontOnly) {
    struct Case {
        std::u16string input;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"", u""},
        {u"   ", u""},
        {u"  C:\\A", u"C:\\A"},
        {u"\t\r\n\v\f C:\\A", u"C:\\A"},
        {u"C:\\A  ", u"C:\\A  "},
        {u"C:\\ A", u"C:\\ A"},
        {u"\u3000C:\\A", u"\u3000C:\\A"},  // the ideographic space is not white space here
        {u"\u00a0C:\\A", u"\u00a0C:\\A"},
    };
    for (const Case& c : cases) {
        const std::u16string_view trimmed = TrimmedLeadingWhiteSpace(c.input);
        EXPECT_EQ(trimmed, c.expected);
        // The end of the text itself, not a copy.
        EXPECT_EQ(trimmed.data() + trimmed.size(), c.input.data() + c.input.size());
    }
}

TEST(IsFolderTextValid, NeedsDriveColonAndBackslash) {
    struct Case {
        std::u16string folder;
        bool expected;
    };
    const Case cases[] = {
        {u"", false},
        {u"C:", false},
        {u"C:folder", false},
        {u"C:/folder", false},
        {u"\\\\server\\share", false},
        {u"CC:\\A", false},
        {u":\\A", false},
        {u"C\\:A", false},
        {u"C::\\A", false},  // first backslash at index 3
        {u"C:\\", true},
        {u"c:\\a", true},
        {u"C:\\Program Files\\QUENTARO\\lw-r7100_lw-r710r", true},
        {u"C:\\A:B", true},  // only the first colon counts
        {u"1:\\A", true},    // the drive letter itself is the drive check's business
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsFolderTextValid(c.folder), c.expected) << ::testing::PrintToString(c.folder);
    }
}

TEST(IsDriveAvailable, TestsTheDriveBit) {
    const uint32_t cAndZ = 0x02000004;  // C: and Z:
    struct Case {
        std::u16string path;
        uint32_t mask;
        bool expected;
    };
    const Case cases[] = {
        {u"C:\\A", cAndZ, true},    {u"c:\\A", cAndZ, true},  {u"Z:\\", cAndZ, true},
        {u"z:", cAndZ, true},       {u"D:\\A", cAndZ, false}, {u"d:\\A", cAndZ, false},
        {u"A:\\", 0x1, true},       {u"a:\\", 0x1, true},     {u"B:\\", 0x1, false},
        {u"C:\\A", 0, false},       {u"1:\\A", ~0u, false},   {u"@:\\", ~0u, false},
        {u"[:\\", ~0u, false},      {u"`:\\", ~0u, false},    {u"{:\\", ~0u, false},
        {u"CC:\\A", ~0u, false},    {u"C\\A", ~0u, false},    {u"", ~0u, false},
        {u"\uff23:\\", ~0u, false},  // full-width C
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsDriveAvailable(c.path, c.mask), c.expected)
            << ::testing::PrintToString(c.path) << " mask " << c.mask;
    }
}

TEST(SplitFolders, FollowsTheBackslashRules) {
    struct Case {
        std::u16string path;
        Folders expected;
    };
    const Case cases[] = {
        {u"C:\\Program Files\\QUENTARO\\lw-r7100_lw-r710r",
         {u"C:\\Program Files", u"C:\\Program Files\\QUENTARO",
          u"C:\\Program Files\\QUENTARO\\lw-r7100_lw-r710r"}},
        {u"D:\\A\\B", {u"D:\\A", u"D:\\A\\B"}},
        {u"D:\\A\\B\\", {u"D:\\A", u"D:\\A\\B", u"D:\\A\\B\\"}},
        {u"D:\\A\\\\B", {u"D:\\A", u"D:\\A\\B"}},
        {u"D:\\", {}},
        {u"D:\\\\", {}},
        {u"D:\\\\A", {u"D:\\A"}},
        {u"D:\\A\\\\", {u"D:\\A"}},  // a doubled trailing backslash adds nothing
        {u"D:\\A\\\\\\B\\\\", {u"D:\\A", u"D:\\A\\B"}},
        {u"D:\\A", {u"D:\\A"}},
        {u"D:", {u"D:"}},
        {u"", {}},
        {u"D:\\\u65e5\u672c\\x", {u"D:\\\u65e5\u672c", u"D:\\\u65e5\u672c\\x"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitFolders(c.path), c.expected) << ::testing::PrintToString(c.path);
    }
}

// A file system held in memory that records what the folder creation asks of it.
class FakeFolders : public FolderPort {
public:
    std::set<std::u16string> folders;  // existing folders, as FindFirstFileW would find them
    std::set<std::u16string> files;    // existing items that are not folders
    std::set<std::u16string> failing;  // CreateDirectoryW fails with another error
    uint32_t driveMask = 0x4;          // C:
    std::vector<std::u16string> created;
    std::vector<std::u16string> attributed;
    int lookups = 0;
    int maskQueries = 0;

    bool IsExistingFolder(std::u16string_view path) override {
        ++lookups;
        return folders.count(std::u16string(path)) != 0;
    }
    uint32_t GetLogicalDriveMask() override {
        ++maskQueries;
        return driveMask;
    }
    CreateFolderResult CreateFolder(std::u16string_view path) override {
        const std::u16string name(path);
        created.push_back(name);
        if (failing.count(name) != 0) return CreateFolderResult::kFailed;
        if (folders.count(name) != 0 || files.count(name) != 0) return CreateFolderResult::kAlreadyExists;
        folders.insert(name);
        return CreateFolderResult::kCreated;
    }
    void SetNormalAttributes(std::u16string_view path) override { attributed.emplace_back(path); }
};

TEST(PrepareFolder, CreatesEveryFolderOnTheWayWithNormalAttributes) {
    FakeFolders fs;
    fs.folders = {u"C:\\Program Files"};
    EXPECT_TRUE(PrepareFolder(u"C:\\Program Files\\QUENTARO\\lw-r7100_lw-r710r", fs));
    const Folders expected = {u"C:\\Program Files", u"C:\\Program Files\\QUENTARO",
                              u"C:\\Program Files\\QUENTARO\\lw-r7100_lw-r710r"};
    EXPECT_EQ(fs.created, expected);
    EXPECT_EQ(fs.attributed, expected);  // the existing parent too
    EXPECT_EQ(fs.folders.count(u"C:\\Program Files\\QUENTARO\\lw-r7100_lw-r710r"), 1u);
}

TEST(PrepareFolder, UsesAnExistingFolderUnchanged) {
    FakeFolders fs;
    fs.folders = {u"C:\\Data"};
    fs.driveMask = 0;  // not even asked
    EXPECT_TRUE(PrepareFolder(u"  C:\\Data", fs));
    EXPECT_TRUE(fs.created.empty());
    EXPECT_TRUE(fs.attributed.empty());
    EXPECT_EQ(fs.maskQueries, 0);
}

TEST(PrepareFolder, RejectsAMissingDriveWithoutCreatingAnything) {
    FakeFolders fs;
    EXPECT_FALSE(PrepareFolder(u"Q:\\New\\Folder", fs));
    EXPECT_FALSE(PrepareFolder(u"\\\\server\\share\\x", fs));
    EXPECT_TRUE(fs.created.empty());
}

TEST(PrepareFolder, RootOfAnExistingDriveCreatesNothing) {
    FakeFolders fs;  // FindFirstFileW does not find a drive root
    EXPECT_TRUE(PrepareFolder(u"C:\\", fs));
    EXPECT_TRUE(fs.created.empty());
    fs.driveMask = 0x8;
    EXPECT_FALSE(PrepareFolder(u"C:\\", fs));
}

TEST(PrepareFolder, StopsAtTheFirstFolderThatCannotBeCreated) {
    FakeFolders fs;
    fs.failing = {u"C:\\A\\B"};
    EXPECT_FALSE(PrepareFolder(u"C:\\A\\B\\C", fs));
    EXPECT_EQ(fs.created, (Folders{u"C:\\A", u"C:\\A\\B"}));
    EXPECT_EQ(fs.attributed, (Folders{u"C:\\A"}));
    EXPECT_EQ(fs.folders.count(u"C:\\A"), 1u);  // what was made stays
}

TEST(PrepareFolder, AnExistingItemOfTheNameCountsAsAlreadyThere) {
    FakeFolders fs;
    fs.files = {u"C:\\A"};
    EXPECT_TRUE(PrepareFolder(u"C:\\A", fs));
    EXPECT_EQ(fs.attributed, (Folders{u"C:\\A"}));
}

TEST(PrepareFolder, TrailingAndDoubledBackslashes) {
    FakeFolders fs;
    fs.driveMask = 0x8;  // D:
    EXPECT_TRUE(PrepareFolder(u"D:\\A\\B\\", fs));
    EXPECT_EQ(fs.created, (Folders{u"D:\\A", u"D:\\A\\B", u"D:\\A\\B\\"}));
    fs.created.clear();
    EXPECT_TRUE(PrepareFolder(u"D:\\X\\\\Y", fs));
    EXPECT_EQ(fs.created, (Folders{u"D:\\X", u"D:\\X\\Y"}));
}

// The destination page trims the folder text where it takes it, keeps the trimmed text, and checks
// that.
TEST(AcceptDestinationFolder, TheTypedTextTrimmedThenEveryCheck) {
    struct Case {
        std::u16string typed;
        bool accepted;
        std::u16string heldAfter;
        Folders created;
    };
    const Case cases[] = {
        {u"", false, u"", {}},
        {u"   ", false, u"", {}},
        {u"C:", false, u"C:", {}},
        {u"C:folder", false, u"C:folder", {}},
        {u"C:/folder", false, u"C:/folder", {}},
        {u"\\\\server\\share", false, u"\\\\server\\share", {}},
        {u"Q:\\A", false, u"Q:\\A", {}},
        {u"  c:\\New\\Sub\\", true, u"c:\\New\\Sub\\", {u"c:\\New", u"c:\\New\\Sub", u"c:\\New\\Sub\\"}},
        {u"\tC:\\", true, u"C:\\", {}},
        {u"\u3000C:\\A", false, u"\u3000C:\\A", {}},
    };
    for (const Case& c : cases) {
        FakeFolders fs;
        const std::u16string_view folder = TrimmedLeadingWhiteSpace(c.typed);
        EXPECT_EQ(folder, c.heldAfter);
        EXPECT_EQ(AcceptDestinationFolder(folder, fs), c.accepted) << ::testing::PrintToString(c.typed);
        EXPECT_EQ(fs.created, c.created);
    }
}

TEST(AcceptDestinationFolder, LeadingWhiteSpaceIsTheCallersToRemove) {
    // Untrimmed, a folder after blanks has no colon at index 1: refused, nothing created.
    for (const char16_t* typed : {u"  c:\\New", u"\tC:\\"}) {
        FakeFolders fs;
        EXPECT_FALSE(AcceptDestinationFolder(typed, fs)) << ::testing::PrintToString(std::u16string(typed));
        EXPECT_TRUE(fs.created.empty());
        EXPECT_EQ(fs.lookups, 0);
    }
}

}  // namespace
}  // namespace quentaro
