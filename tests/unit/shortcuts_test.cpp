#include "core/shortcuts.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace quentaro {
namespace {

const std::u16string kDesktop = u"C:\\users\\Public\\Desktop";
const std::u16string kPrograms = u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";

// An entry of the fake file system under a link file name.
struct StoredEntry {
    enum Kind { kLink, kFolder, kDamaged } kind = kLink;
    std::u16string target;
    LinkProperties saved;
};

struct FakeShell;

class FakeLink : public ShellLink {
public:
    explicit FakeLink(FakeShell& shell) : m_shell(shell) {}
    ~FakeLink() override;
    bool LoadTarget(std::u16string_view linkFile, std::u16string& target) override;
    bool Save(std::u16string_view linkFile, const LinkProperties& properties) override;

private:
    FakeShell& m_shell;
};

// COM, the destination folder and the shell folders, recording what happens in order.
struct FakeShell : ShortcutPort {
    int32_t comResult = 0;  // S_OK
    bool linkObjectFails = false;
    std::vector<std::u16string> destinationEntries = {u".", u"..", u"QUENTARO.exe"};
    std::map<std::u16string, std::u16string> fullPaths;  // GetFullPathNameW, identity otherwise
    std::map<int32_t, std::u16string> shellFolders = {{25, kDesktop}, {23, kPrograms}};
    std::map<std::u16string, StoredEntry> entries;  // link files and what stands in their place
    std::set<std::u16string> saveFails;
    bool fileInterfaceFails = false;

    std::vector<std::string> events;
    std::vector<std::u16string> patterns;
    std::vector<std::u16string> saves;
    std::vector<std::u16string> notified;
    int visited = 0;
    int existsQueries = 0;
    int linkObjects = 0;

    ComScope StartCom() override {
        events.push_back("CoInitialize");
        return ComScope(comResult, [this] { events.push_back("CoUninitialize"); });
    }
    std::unique_ptr<ShellLink> CreateShellLink() override {
        events.push_back("CoCreateInstance");
        if (linkObjectFails) return nullptr;
        ++linkObjects;
        return std::make_unique<FakeLink>(*this);
    }
    void EnumerateEntries(std::u16string_view pattern, const EntryVisitor& visit) override {
        patterns.emplace_back(pattern);
        for (const std::u16string& name : destinationEntries) {
            ++visited;
            if (!visit(name)) return;
        }
    }
    std::u16string GetFullPath(std::u16string_view path) override {
        const auto found = fullPaths.find(std::u16string(path));
        return found == fullPaths.end() ? std::u16string(path) : found->second;
    }
    bool EntryExists(std::u16string_view path) override {
        ++existsQueries;
        return entries.count(std::u16string(path)) != 0;
    }
    std::u16string GetShellFolderPath(int32_t csidl) override {
        events.push_back("folder " + std::to_string(csidl));
        const auto found = shellFolders.find(csidl);
        return found == shellFolders.end() ? std::u16string() : found->second;
    }
    void NotifyShell(std::u16string_view path) override { notified.emplace_back(path); }

    // The target of a link file written earlier, for tests that fill a shell folder.
    void PutLink(const std::u16string& file, const std::u16string& target) {
        entries[file] = StoredEntry{StoredEntry::kLink, target, {}};
    }
};

FakeLink::~FakeLink() {
    m_shell.events.push_back("Release");
}

bool FakeLink::LoadTarget(std::u16string_view linkFile, std::u16string& target) {
    if (m_shell.fileInterfaceFails) return false;
    const auto found = m_shell.entries.find(std::u16string(linkFile));
    if (found == m_shell.entries.end() || found->second.kind != StoredEntry::kLink) return false;
    target = found->second.target;
    return true;
}

bool FakeLink::Save(std::u16string_view linkFile, const LinkProperties& properties) {
    const std::u16string name(linkFile);
    m_shell.saves.push_back(name);
    if (m_shell.fileInterfaceFails || m_shell.saveFails.count(name) != 0) return false;
    m_shell.entries[name] = StoredEntry{StoredEntry::kLink, properties.targetPath, properties};
    return true;
}

std::u16string Candidate(const std::u16string& folder, int32_t n) {
    return LinkFileCandidate(folder, n);
}

TEST(LinkFileCandidate, NamesWithoutNumberOneThenNumbered) {
    EXPECT_EQ(LinkFileCandidate(u"C:\\D", 1), u"C:\\D\\NRQ QUENTARO.LNK");
    EXPECT_EQ(LinkFileCandidate(u"C:\\D", 2), u"C:\\D\\NRQ QUENTARO(2).LNK");
    EXPECT_EQ(LinkFileCandidate(u"C:\\D", 10), u"C:\\D\\NRQ QUENTARO(10).LNK");
    EXPECT_EQ(LinkFileCandidate(u"C:\\D", 1001), u"C:\\D\\NRQ QUENTARO(1001).LNK");
}

TEST(EqualsIgnoreAsciiCase, WholeStringsFoldingAsciiLetters) {
    EXPECT_TRUE(EqualsIgnoreAsciiCase(u"quentaro.EXE", u"QUENTARO.exe"));
    EXPECT_TRUE(EqualsIgnoreAsciiCase(u"c:\\program files\\x", u"C:\\Program Files\\X"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase(u"QUENTARO.exe ", u"QUENTARO.exe"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase(u"QUENTARO.ex", u"QUENTARO.exe"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase(u"QUENTARO[exe", u"QUENTARO{exe"));       // not letters
    EXPECT_FALSE(EqualsIgnoreAsciiCase(u"\uff31UENTARO.exe", u"QUENTARO.exe"));  // full-width Q
}

TEST(ComScope, EndsComOnceWhenStartedAndNeverWhenNot) {
    const struct {
        int32_t result;
        int ends;
    } cases[] = {
        {0, 1},                                  // S_OK
        {1, 1},                                  // S_FALSE: balanced too
        {static_cast<int32_t>(0x80004005u), 0},  // E_FAIL
        {static_cast<int32_t>(0x80010106u), 0},  // RPC_E_CHANGED_MODE
    };
    for (const auto& c : cases) {
        int ends = 0;
        {
            const ComScope com(c.result, [&ends] { ++ends; });
            EXPECT_EQ(com.Started(), c.ends == 1) << c.result;
            EXPECT_EQ(ends, 0) << c.result;  // not before the scope ends
        }
        EXPECT_EQ(ends, c.ends) << c.result;
    }
    const ComScope none;
    EXPECT_FALSE(none.Started());
}

TEST(ComScope, MovingHandsOverTheOneEnd) {
    std::vector<std::string> ended;
    {
        ComScope first(0, [&ended] { ended.push_back("first"); });
        ComScope moved(std::move(first));
        EXPECT_FALSE(first.Started());  // the moved-from scope holds nothing
        EXPECT_TRUE(moved.Started());
        EXPECT_TRUE(ended.empty());

        ComScope second(0, [&ended] { ended.push_back("second"); });
        second = std::move(moved);  // the scope it held ends at once
        EXPECT_EQ(ended, std::vector<std::string>{"second"});
        EXPECT_TRUE(second.Started());

        ComScope failed(-1, [&ended] { ended.push_back("failed"); });
        failed = std::move(second);  // a scope that did not start ends nothing
        EXPECT_EQ(ended, std::vector<std::string>{"second"});
    }
    EXPECT_EQ(ended, (std::vector<std::string>{"second", "first"}));
}

TEST(CreateShortcuts, WritesBothLinksToTheApplication) {
    FakeShell shell;
    EXPECT_EQ(CreateShortcuts(u"C:\\Program Files\\QUENTARO\\lw-r7100_lw-r710r", shell), 1);
    const std::u16string app = u"C:\\Program Files\\QUENTARO\\lw-r7100_lw-r710r\\QUENTARO.exe";
    EXPECT_EQ(shell.patterns,
              std::vector<std::u16string>{u"C:\\Program Files\\QUENTARO\\lw-r7100_lw-r710r\\*.*"});
    const std::vector<std::u16string> links = {Candidate(kDesktop, 1), Candidate(kPrograms, 1)};
    EXPECT_EQ(shell.saves, links);
    EXPECT_EQ(shell.notified, links);
    for (const std::u16string& link : links) {
        const LinkProperties& saved = shell.entries[link].saved;
        EXPECT_EQ(saved.targetPath, app);
        EXPECT_EQ(saved.workingDirectory, u"C:\\Program Files\\QUENTARO\\lw-r7100_lw-r710r");
        EXPECT_EQ(saved.description, u"QUENTARO for LW-R7100/R710R");
        EXPECT_EQ(saved.showCommand, 5);
    }
    // One link object for both folders, released before COM goes.
    EXPECT_EQ(shell.linkObjects, 1);
    const std::vector<std::string> order = {"CoInitialize", "CoCreateInstance", "folder 25",
                                            "folder 23",    "Release",          "CoUninitialize"};
    EXPECT_EQ(shell.events, order);
}

TEST(CreateShortcuts, PatternAndApplicationPathFromTheDestination) {
    struct Case {
        std::u16string destination;
        std::u16string pattern;
        std::u16string fullPattern;  // what GetFullPathNameW makes of the pattern
        std::u16string application;
    };
    const Case cases[] = {
        {u"C:\\", u"C:\\*.*", u"C:\\*.*", u"C:\\QUENTARO.exe"},
        {u"D:\\A\\", u"D:\\A\\*.*", u"D:\\A\\*.*", u"D:\\A\\QUENTARO.exe"},
        {u"D:\\A", u"D:\\A\\*.*", u"D:\\A\\*.*", u"D:\\A\\QUENTARO.exe"},
        {u"d:\\x\\..\\A  ", u"d:\\x\\..\\A  \\*.*", u"d:\\A\\*.*", u"d:\\A\\QUENTARO.exe"},
        {u"D:\\A\\\\", u"D:\\A\\\\*.*", u"D:\\A\\\\*.*", u"D:\\A\\QUENTARO.exe"},
        {u"D:\\A/B", u"D:\\A/B\\*.*", u"D:\\A/B\\*.*", u"D:\\A/B\\QUENTARO.exe"},
    };
    for (const Case& c : cases) {
        FakeShell shell;
        shell.fullPaths[c.pattern] = c.fullPattern;
        EXPECT_EQ(CreateShortcuts(c.destination, shell), 1);
        EXPECT_EQ(shell.patterns, std::vector<std::u16string>{c.pattern});
        const LinkProperties& saved = shell.entries[Candidate(kDesktop, 1)].saved;
        EXPECT_EQ(saved.targetPath, c.application) << ::testing::PrintToString(c.destination);
        EXPECT_EQ(saved.workingDirectory, c.destination);
    }
}

TEST(CreateShortcuts, FindsTheApplicationInAnyCaseWithTheDisksSpelling) {
    FakeShell shell;
    shell.destinationEntries = {u".", u"..", u"QUENTARO.exe.bak", u"QUENTARO", u"quentaro.EXE", u"Other.exe"};
    EXPECT_EQ(CreateShortcuts(u"E:\\Q", shell), 1);
    EXPECT_EQ(shell.visited, 5);  // stops at the first match
    EXPECT_EQ(shell.entries[Candidate(kDesktop, 1)].saved.targetPath, u"E:\\Q\\quentaro.EXE");
}

TEST(CreateShortcuts, MissingApplicationWritesNoLink) {
    const std::vector<std::vector<std::u16string>> listings = {
        {}, {u".", u".."}, {u"QUENTARO.ex", u"QUENTARO.exe.lnk", u"\uff31UENTARO.exe"}};
    for (const auto& listing : listings) {
        FakeShell shell;
        shell.destinationEntries = listing;
        EXPECT_EQ(CreateShortcuts(u"C:\\Q", shell), 0);
        EXPECT_TRUE(shell.saves.empty());
        const std::vector<std::string> order = {"CoInitialize", "CoCreateInstance", "Release",
                                                "CoUninitialize"};
        EXPECT_EQ(shell.events, order);
    }
}

TEST(CreateShortcuts, ComResults) {
    struct Case {
        int32_t coInitialize;
        bool linkObjectFails;
        int32_t expected;
        std::vector<std::string> events;
    };
    const int32_t eFail = static_cast<int32_t>(0x80004005u);
    const int32_t rpcChangedMode = static_cast<int32_t>(0x80010106u);
    const Case cases[] = {
        {eFail, false, 0, {"CoInitialize"}},
        {rpcChangedMode, false, 0, {"CoInitialize"}},
        {1,
         false,
         1,  // S_FALSE: already initialised on this thread, still balanced
         {"CoInitialize", "CoCreateInstance", "folder 25", "folder 23", "Release", "CoUninitialize"}},
        {0, true, 0, {"CoInitialize", "CoCreateInstance", "CoUninitialize"}},
    };
    for (const Case& c : cases) {
        FakeShell shell;
        shell.comResult = c.coInitialize;
        shell.linkObjectFails = c.linkObjectFails;
        EXPECT_EQ(CreateShortcuts(u"C:\\Q", shell), c.expected) << c.coInitialize;
        EXPECT_EQ(shell.events, c.events) << c.coInitialize;
        EXPECT_EQ(shell.saves.size(), c.expected == 0 ? 0u : 2u);
    }
}

TEST(CreateShortcuts, RewritesItsOwnLinkInPlace) {
    FakeShell shell;
    shell.PutLink(Candidate(kDesktop, 1), u"c:\\q\\QUENTARO.EXE");  // same path, other case
    EXPECT_EQ(CreateShortcuts(u"C:\\Q", shell), 1);
    EXPECT_EQ(shell.saves, (std::vector<std::u16string>{Candidate(kDesktop, 1), Candidate(kPrograms, 1)}));
    EXPECT_EQ(shell.entries[Candidate(kDesktop, 1)].target, u"C:\\Q\\QUENTARO.exe");
    EXPECT_EQ(shell.entries.count(Candidate(kDesktop, 2)), 0u);
}

TEST(CreateShortcuts, LinkToAnotherTargetGivesTheNumberedName) {
    FakeShell shell;
    shell.PutLink(Candidate(kDesktop, 1), u"C:\\Other\\QUENTARO.exe");
    EXPECT_EQ(CreateShortcuts(u"C:\\Q", shell), 1);
    EXPECT_EQ(shell.saves[0], u"C:\\users\\Public\\Desktop\\NRQ QUENTARO(2).LNK");
    EXPECT_EQ(shell.entries[Candidate(kDesktop, 1)].target, u"C:\\Other\\QUENTARO.exe");  // untouched
}

TEST(CreateShortcuts, AnEarlierNumberedLinkOfOursIsFoundAgain) {
    FakeShell shell;
    shell.PutLink(Candidate(kDesktop, 1), u"C:\\Other\\QUENTARO.exe");
    shell.PutLink(Candidate(kDesktop, 2), u"C:\\Third\\QUENTARO.exe");
    shell.PutLink(Candidate(kDesktop, 3), u"C:\\Q\\QUENTARO.exe");
    EXPECT_EQ(CreateShortcuts(u"C:\\Q", shell), 1);
    EXPECT_EQ(shell.saves[0], Candidate(kDesktop, 3));
}

TEST(CreateShortcuts, AfterThousandTakenCandidatesNumber1001IsUsedUnseen) {
    FakeShell shell;
    for (int32_t n = 1; n <= 1000; ++n) shell.PutLink(Candidate(kDesktop, n), u"C:\\Elsewhere.exe");
    shell.entries[Candidate(kDesktop, 1001)] = StoredEntry{StoredEntry::kDamaged, u"", {}};
    EXPECT_EQ(CreateShortcuts(u"C:\\Q", shell), 1);
    EXPECT_EQ(shell.saves[0], u"C:\\users\\Public\\Desktop\\NRQ QUENTARO(1001).LNK");
    EXPECT_EQ(shell.entries[Candidate(kDesktop, 1001)].kind, StoredEntry::kLink);  // replaced
    EXPECT_EQ(shell.existsQueries, 1000 + 1);  // 1000 on the desktop, 1 in Programs
}

TEST(CreateShortcuts, AFolderOfTheLinkNameBlocksOnlyThatShellFolder) {
    FakeShell shell;
    shell.entries[Candidate(kDesktop, 1)] = StoredEntry{StoredEntry::kFolder, u"", {}};
    EXPECT_EQ(CreateShortcuts(u"C:\\Q", shell), 1);
    EXPECT_EQ(shell.saves, std::vector<std::u16string>{Candidate(kPrograms, 1)});
    EXPECT_EQ(shell.notified, std::vector<std::u16string>{Candidate(kPrograms, 1)});
    EXPECT_EQ(shell.entries.count(Candidate(kDesktop, 2)), 0u);  // the numbering does not move past it
}

TEST(CreateShortcuts, ADamagedFileLaterInTheNumberingEndsTheAttempt) {
    FakeShell shell;
    shell.PutLink(Candidate(kPrograms, 1), u"C:\\Other.exe");
    shell.entries[Candidate(kPrograms, 2)] = StoredEntry{StoredEntry::kDamaged, u"", {}};
    EXPECT_EQ(CreateShortcuts(u"C:\\Q", shell), 1);
    EXPECT_EQ(shell.saves, std::vector<std::u16string>{Candidate(kDesktop, 1)});
}

TEST(CreateShortcuts, FailuresOfTheLinkFileOnlyLoseThatLink) {
    {
        FakeShell shell;
        shell.saveFails = {Candidate(kDesktop, 1)};
        EXPECT_EQ(CreateShortcuts(u"C:\\Q", shell), 1);
        EXPECT_EQ(shell.notified, std::vector<std::u16string>{Candidate(kPrograms, 1)});
    }
    {
        FakeShell shell;  // no IPersistFile: neither load nor save
        shell.fileInterfaceFails = true;
        shell.PutLink(Candidate(kDesktop, 1), u"C:\\Q\\QUENTARO.exe");
        EXPECT_EQ(CreateShortcuts(u"C:\\Q", shell), 1);
        EXPECT_EQ(shell.saves, std::vector<std::u16string>{Candidate(kPrograms, 1)});
        EXPECT_TRUE(shell.notified.empty());
    }
}

TEST(CreateShortcuts, AShellFolderThatCannotBeResolvedGetsNoLink) {
    for (const int32_t missing : {kCsidlCommonDesktopDirectory, kCsidlCommonPrograms}) {
        FakeShell shell;
        shell.shellFolders.erase(missing);
        EXPECT_EQ(CreateShortcuts(u"C:\\Q", shell), 1);
        const std::u16string other = missing == kCsidlCommonPrograms ? kDesktop : kPrograms;
        EXPECT_EQ(shell.saves, std::vector<std::u16string>{Candidate(other, 1)}) << missing;
        for (const auto& entry : shell.entries) EXPECT_NE(entry.first.substr(0, 1), u"\\");
    }
}

TEST(CreateLinkInFolder, EmptyFolderPathWritesNothing) {
    FakeShell shell;
    FakeLink link(shell);
    EXPECT_EQ(CreateLinkInFolder(u"C:\\Q\\QUENTARO.exe", u"", u"C:\\Q", link, shell), 0);
    EXPECT_EQ(shell.existsQueries, 0);
    EXPECT_TRUE(shell.saves.empty());
}

}  // namespace
}  // namespace quentaro
