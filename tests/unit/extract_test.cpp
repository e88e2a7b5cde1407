#include "core/extract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/messages.h"
#include "fake_ports.h"
#include "package_fixtures.h"

namespace quentaro {
namespace {

using fakes::Rig;
using fixtures::Entry;
using fixtures::EntryField;
using fixtures::Package;
using fixtures::PatchU32;
using fixtures::Repeat;

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

const std::u16string kDest = u"C:\\dest\\";
const std::u16string kSys = u"C:\\sys\\";

int Extract(Rig& rig, const std::vector<std::uint8_t>& package) {
    rig.store.bytes = package;
    const int result = ExtractFiles(rig.engine);
    EXPECT_FALSE(rig.store.isOpen);
    for (bool open : rig.ui.packageOpenAtError) EXPECT_FALSE(open);
    for (const auto& [path, file] : rig.files.files) {
        EXPECT_FALSE(file.open) << std::string(path.begin(), path.end());
        EXPECT_FALSE(file.timesSetWhileOpen);
    }
    return result;
}

TEST(ExtractFiles, WritesTheEntriesForEachPlatformKind) {
    std::vector<pack::ImageEntry> entries;
    for (int target = 0; target <= 6; ++target) {
        entries.push_back(Entry("t" + std::to_string(target), static_cast<std::uint8_t>(target),
                                "data of " + std::to_string(target)));
    }
    const struct {
        std::int32_t kind;
        std::vector<std::u16string> paths;
    } cases[] = {
        {-1, {kDest + u"t0"}},
        {0, {kDest + u"t0"}},
        {1, {kDest + u"t0", kSys + u"t1"}},
        {2, {kDest + u"t0", kSys + u"t2"}},
        {3, {kDest + u"t0", kSys + u"t3"}},
        {4, {kDest + u"t0", kSys + u"t4"}},
        {5, {kDest + u"t0", kDest + u"t3", kSys + u"t5"}},
    };
    for (const auto& c : cases) {
        Rig rig(c.kind);
        EXPECT_EQ(Extract(rig, Package(entries)), 1) << c.kind;
        EXPECT_TRUE(rig.ui.errors.empty());
        EXPECT_EQ(rig.files.createOrder, c.paths) << c.kind;
        std::u16string log;
        for (const std::u16string& path : c.paths) {
            const std::u16string name = path.substr(path.rfind(u'\\') + 1);
            log += u"\nCreate \"" + name + u"\"...";
            const std::string target(1, static_cast<char>(name.back()));
            EXPECT_EQ(rig.files.files[path].data, Bytes("data of " + target));
        }
        EXPECT_EQ(rig.ui.log, log) << c.kind;
    }
}

// The values of a copy done the plain way, one block of 260 bytes at a time and then the remainder,
// of entries of `sizes` bytes all for the destination folder.
std::vector<std::int32_t> BlockByBlockProgress(const std::vector<std::uint32_t>& sizes) {
    std::uint64_t total = 0;
    for (std::uint32_t size : sizes) total += size;
    std::vector<std::int32_t> values;
    std::uint64_t done = 0;
    for (std::uint32_t size : sizes) {
        for (std::uint32_t b = 0; b < size / 260; ++b) {
            done += 260;
            values.push_back(static_cast<std::int32_t>(std::min<std::uint64_t>(100, 50 + 50 * done / total)));
        }
        done += size % 260;
        values.push_back(static_cast<std::int32_t>(std::min<std::uint64_t>(100, 50 + 50 * done / total)));
    }
    return values;
}

TEST(ExtractFiles, StepsOf260BytesThenTheRemainderThroughTheCopyBuffer) {
    // Whole 260-byte blocks that one read and one write move, with room left for a remainder.
    constexpr std::uint32_t n = kBlocksPerChunk;
    static_assert(n * 260 + 259 <= kCopyBufferSize && (n + 1) * 260 + 259 > kCopyBufferSize);
    const struct {
        std::uint32_t size;
        std::vector<std::size_t> writes;
        std::vector<std::int32_t> progress;  // when short enough to spell out
    } cases[] = {
        {260, {260}, {100, 100}},
        {261, {261}, {99, 100}},
        {520, {520}, {75, 100, 100}},
        {1, {1}, {100}},
        {1000, {1000}, {63, 76, 89, 100}},
        {n * 260 + 259, {n * 260 + 259}, {}},  // the largest copy in one write
        {(n + 1) * 260, {n * 260, 260}, {}},
        {(n + 1) * 260 + 1, {n * 260, 261}, {}},
        {(2 * n + 98) * 260 + 7, {n * 260, n * 260, 98 * 260 + 7}, {}},
    };
    for (const auto& c : cases) {
        Rig rig;
        std::string data(c.size, 'x');
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
        EXPECT_EQ(Extract(rig, Package({Entry("f", 0, data)})), 1);
        const fakes::FakeFileRecord& file = rig.files.files[kDest + u"f"];
        EXPECT_EQ(file.writeSizes, c.writes) << c.size;
        for (std::size_t w : file.writeSizes) EXPECT_LE(w, kCopyBufferSize);
        EXPECT_EQ(file.data, Bytes(data));
        EXPECT_EQ(rig.ui.progress, BlockByBlockProgress({c.size})) << c.size;
        if (!c.progress.empty()) {
            EXPECT_EQ(rig.ui.progress, c.progress) << c.size;
        }
    }
}

TEST(ExtractFiles, ASmallerCopyBufferGivesTheSameFilesAndValues) {
    const std::string big(5 * 260 + 17, 'b');
    const std::vector<std::uint8_t> package =
        Package({Entry("a", 0, "x"), Entry("big", 0, big), Entry("blocks", 0, std::string(3 * 260, 'c'))});
    const struct {
        std::size_t bufferSize;
        std::vector<std::size_t> bigWrites;  // the writes of "big"
    } cases[] = {
        {1, {260, 260, 260, 260, 260 + 17}},  // enlarged to one block and a remainder
        {519, {260, 260, 260, 260, 260 + 17}},
        {779, {520, 520, 260 + 17}},
        {kCopyBufferSize, {5 * 260 + 17}},
    };
    Rig reference;
    ASSERT_EQ(Extract(reference, package), 1);
    for (const auto& c : cases) {
        Rig rig;
        rig.engine.copyBufferSize = c.bufferSize;
        EXPECT_EQ(Extract(rig, package), 1) << c.bufferSize;
        EXPECT_EQ(rig.files.files[kDest + u"big"].writeSizes, c.bigWrites) << c.bufferSize;
        EXPECT_EQ(rig.ui.progress, reference.ui.progress) << c.bufferSize;
        EXPECT_EQ(rig.ui.log, reference.ui.log);
        for (const auto& [path, file] : reference.files.files)
            EXPECT_EQ(rig.files.files[path].data, file.data);
    }
}

TEST(ExtractFiles, EmptyEntryGivesAnEmptyFileWithItsLogLineAndTime) {
    Rig rig;
    EXPECT_EQ(Extract(rig, Package({Entry("data", 0, Repeat('d', 100)), Entry("empty", 0, "")})), 1);
    const fakes::FakeFileRecord& empty = rig.files.files[kDest + u"empty"];
    EXPECT_TRUE(empty.data.empty());
    EXPECT_EQ(empty.creates, 1);
    ASSERT_TRUE(empty.times.has_value());
    EXPECT_EQ(rig.ui.log, u"\nCreate \"data\"...\nCreate \"empty\"...");
    // One value for the data entry's remainder, one unchanged value for the empty entry.
    EXPECT_EQ(rig.ui.progress, (std::vector<std::int32_t>{100, 100}));
}

// What the extraction does, as seen from outside, in order: log lines, files created, values given
// to the bar, files closed and given their times, programs run, messages.
struct Trace {
    std::vector<std::string> events;
    std::vector<std::uint64_t> writtenAtProgress;  // bytes handed to the files when a value was given
};

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

class TracingUi : public InstallUi {
public:
    TracingUi(Trace& trace, const fakes::FakeFileSystem& files) : m_trace(trace), m_files(files) {}
    void ShowError(const std::u16string& text) override { m_trace.events.push_back("error " + Narrow(text)); }
    void SetProgress(std::int32_t percent) override {
        m_trace.events.push_back("progress " + std::to_string(percent));
        m_trace.writtenAtProgress.push_back(m_files.bytesWritten);
    }
    void AppendLog(const std::u16string& text) override { m_trace.events.push_back("log " + Narrow(text)); }

private:
    Trace& m_trace;
    const fakes::FakeFileSystem& m_files;
};

class TracingFiles : public TargetFileSystem {
public:
    TracingFiles(Trace& trace, fakes::FakeFileSystem& files) : m_trace(trace), m_files(files) {}
    std::unique_ptr<TargetFile> Create(const std::u16string& path) override {
        m_trace.events.push_back("create " + Narrow(path));
        std::unique_ptr<TargetFile> file = m_files.Create(path);
        if (!file) return nullptr;
        return std::make_unique<File>(m_trace, std::move(file), Narrow(path));
    }

private:
    class File : public TargetFile {
    public:
        File(Trace& trace, std::unique_ptr<TargetFile> file, std::string path)
            : m_trace(trace), m_file(std::move(file)), m_path(std::move(path)) {}
        WriteStatus Write(const std::uint8_t* data, std::size_t count) override {
            return m_file->Write(data, count);
        }
        WriteStatus Close() override {
            m_trace.events.push_back("close " + m_path);
            return m_file->Close();
        }
        bool SetTimes(const FileTimes& times) override {
            m_trace.events.push_back("times " + m_path + " " + std::to_string(times.creation) + " " +
                                     std::to_string(times.lastWrite));
            return m_file->SetTimes(times);
        }
        bool Commit() override {
            m_trace.events.push_back("commit " + m_path);
            return m_file->Commit();
        }

    private:
        Trace& m_trace;
        std::unique_ptr<TargetFile> m_file;
        std::string m_path;
    };

    Trace& m_trace;
    fakes::FakeFileSystem& m_files;
};

class TracingShell : public Shell {
public:
    explicit TracingShell(Trace& trace) : m_trace(trace) {}
    bool RunAndWait(const std::u16string& program, const std::u16string& parameters,
                    const std::u16string& folder) override {
        m_trace.events.push_back("run " + Narrow(program) + " " + Narrow(parameters) + " " + Narrow(folder));
        return true;
    }

private:
    Trace& m_trace;
};

// The extraction written down the plain way, from the entries the package was built of: one
// block of 260 bytes at a time, a value after each block and after the remainder.
Trace ReferenceExtraction(const std::vector<pack::ImageEntry>& entries, std::int32_t kind,
                          std::int64_t utcSeconds) {
    auto where = [kind](std::uint8_t target) {
        if (target == 0 || (target == 3 && kind == 5)) return 'd';
        if (target >= 1 && target <= 5 && target == kind) return 's';
        return 'n';
    };
    std::uint64_t total = 0;
    for (const pack::ImageEntry& e : entries) {
        if (where(e.target) == 'd') total += e.data.size();
    }
    Trace trace;
    if (total == 0) return trace;
    std::uint64_t done = 0;
    const std::string times = " " + std::to_string(utcSeconds) + " " + std::to_string(utcSeconds);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const pack::ImageEntry& e = entries[i];
        const char to = where(e.target);
        if (to != 'n') {
            std::string name(e.name.begin(), e.name.end());
            if (to == 's' && name.rfind('%') != std::string::npos) name = name.substr(name.rfind('%') + 2);
            const std::string path = (to == 's' ? "C:\\sys\\" : "C:\\dest\\") + name;
            trace.events.push_back("log \nCreate \"" + name + "\"...");
            trace.events.push_back("create " + path);
            const std::size_t size = e.data.size();
            for (std::size_t b = 0; b <= size / 260; ++b) {
                done += b < size / 260 ? 260 : size % 260;
                trace.events.push_back("progress " +
                                       std::to_string(std::min<std::uint64_t>(100, 50 + 50 * done / total)));
                trace.writtenAtProgress.push_back(done);
            }
            trace.events.push_back("close " + path);
            trace.events.push_back("times " + path + times);
            trace.events.push_back("commit " + path);
        }
        if (i + 1 == entries.size() && kind == 5) {
            trace.events.push_back("run C:\\dest\\QuentaroDriver32setup.exe Quentaro.inf C:\\dest");
        }
    }
    return trace;
}

TEST(ExtractFiles, RandomPackagesAgainstACopyBlockByBlock) {
    std::mt19937 random(19991231);
    const std::uint32_t sizes[] = {0,     1,     259,   260,   261,   519,   520,
                                   65259, 65260, 65261, 65519, 65520, 65779, 65780};
    const std::int64_t utc = UtcSecondsOfCivil(LocalTime{2008, 4, 1, 12, 0, 0});
    for (int round = 0; round < 80; ++round) {
        const std::int32_t kind = static_cast<std::int32_t>(random() % 7) - 1;
        std::vector<pack::ImageEntry> entries;
        const std::size_t count = 1 + random() % 12;
        for (std::size_t i = 0; i < count; ++i) {
            const auto target = static_cast<std::uint8_t>(random() % 7);
            const std::string prefix = target != 0 && random() % 2 == 0 ? "ab%x" : "";
            std::uint32_t size = sizes[random() % std::size(sizes)];
            if (random() % 4 == 0) size = static_cast<std::uint32_t>(random() % 200000);
            std::string data(size, '\0');
            for (char& c : data) c = static_cast<char>(random());
            entries.push_back(Entry(prefix + "f" + std::to_string(i), target, data));
        }
        const std::vector<std::uint8_t> image = Package(entries);

        Trace trace;
        fakes::FakePackageStore store;
        store.bytes = image;
        fakes::FakeFileSystem files;
        TracingUi ui(trace, files);
        TracingFiles tracingFiles(trace, files);
        memory::ByteDecoder names;
        fakes::FakeClock clock;
        TracingShell shell(trace);
        const InstallEngine engine{store, ui,   tracingFiles, names,     clock,
                                   shell, kind, u"C:\\dest",  u"C:\\sys"};
        const Trace reference = ReferenceExtraction(entries, kind, utc);
        EXPECT_EQ(ExtractFiles(engine), reference.events.empty() ? 0 : 1) << round;
        EXPECT_FALSE(store.isOpen);
        ASSERT_EQ(trace.events, reference.events) << round;
        // The bar never runs ahead of the bytes handed to the files, nor more than a buffer behind.
        for (std::size_t i = 0; i < trace.writtenAtProgress.size(); ++i) {
            EXPECT_GE(trace.writtenAtProgress[i], reference.writtenAtProgress[i]) << round << " " << i;
            EXPECT_LT(trace.writtenAtProgress[i], reference.writtenAtProgress[i] + kCopyBufferSize);
        }
        for (const auto& [path, file] : files.files) {
            const std::string name = Narrow(path.substr(path.rfind(u'\\') + 1));
            const auto entry = std::find_if(entries.begin(), entries.end(), [&](const pack::ImageEntry& e) {
                const std::string stored(e.name.begin(), e.name.end());
                return stored == name || stored == "ab%x" + name;
            });
            ASSERT_NE(entry, entries.end()) << name;
            EXPECT_EQ(file.data, entry->data) << name;
            EXPECT_FALSE(file.open);
        }
    }
}

TEST(ExtractFiles, BytesForTheSystemFolderNeverPushTheBarAbove100) {
    const struct {
        std::size_t dest, sys;
        std::vector<std::int32_t> progress;
    } cases[] = {
        {520, 260, {75, 100, 100, 100, 100}},  // would be 125 by the plain formula
        {5200, 100, {}},                       // S below T / 50: stays 100
        {100, 5200, {}},
    };
    for (const auto& c : cases) {
        Rig rig(3);
        EXPECT_EQ(
            Extract(rig, Package({Entry("d", 0, Repeat('a', c.dest)), Entry("s", 3, Repeat('b', c.sys))})),
            1);
        if (!c.progress.empty()) {
            EXPECT_EQ(rig.ui.progress, c.progress);
        }
        EXPECT_LE(rig.ui.maxProgress, 100);
        EXPECT_EQ(rig.ui.progress.back(), 100);
        for (std::size_t i = 1; i < rig.ui.progress.size(); ++i)
            EXPECT_GE(rig.ui.progress[i], rig.ui.progress[i - 1]);
        EXPECT_EQ(rig.files.files[kSys + u"s"].data.size(), c.sys);
    }
}

TEST(ExtractFiles, GivesBothTimesAfterTheFileIsClosed) {
    Rig rig;
    rig.clock.offset = 9 * 3600;  // local time = UTC + 9 h
    EXPECT_EQ(
        Extract(rig, Package({Entry("a", 0, "x", "20080401120000"), Entry("b", 0, "", "19991231235959")})),
        1);
    const FileTimes a = *rig.files.files[kDest + u"a"].times;
    const FileTimes b = *rig.files.files[kDest + u"b"].times;
    EXPECT_EQ(a.creation, 1207018800);  // 2008-04-01 03:00:00 UTC
    EXPECT_EQ(a.lastWrite, 1207018800);
    EXPECT_EQ(b.creation, 946652399);  // 1999-12-31 14:59:59 UTC
    EXPECT_EQ(b.lastWrite, 946652399);
}

TEST(ExtractFiles, ExistingFileIsEmptiedAndRewritten) {
    Rig rig;
    rig.files.files[kDest + u"a"].data = Bytes("old and longer contents");
    EXPECT_EQ(Extract(rig, Package({Entry("a", 0, "new")})), 1);
    EXPECT_EQ(rig.files.files[kDest + u"a"].data, Bytes("new"));
}

TEST(ExtractFiles, PrefixIsDroppedOnlyInTheSystemFolder) {
    const std::vector<std::uint8_t> package =
        Package({Entry("app", 0, "a"), Entry("ab%xdrv.dll", 3, "d"), Entry("plain.dll", 3, "p")});
    Rig five(5), three(3);
    EXPECT_EQ(Extract(five, package), 1);
    EXPECT_EQ(five.files.createOrder,
              (std::vector<std::u16string>{kDest + u"app", kDest + u"ab%xdrv.dll", kDest + u"plain.dll"}));
    EXPECT_EQ(Extract(three, package), 1);
    EXPECT_EQ(three.files.createOrder,
              (std::vector<std::u16string>{kDest + u"app", kSys + u"drv.dll", kSys + u"plain.dll"}));
    EXPECT_EQ(three.ui.log, u"\nCreate \"app\"...\nCreate \"drv.dll\"...\nCreate \"plain.dll\"...");
}

TEST(ExtractFiles, NamesOf32BytesAndDoubleByteNames) {
    Rig rig;
    const std::string longName = Repeat('n', 32);
    EXPECT_EQ(Extract(rig, Package({Entry(longName, 0, "x")})), 1);
    EXPECT_EQ(rig.files.createOrder, std::vector<std::u16string>{kDest + Wide(longName)});

    Rig dbcs;
    fakes::DoubleByteDecoder decoder;
    InstallEngine engine{dbcs.store, dbcs.ui, dbcs.files,  decoder,   dbcs.clock,
                         dbcs.shell, 0,       u"C:\\dest", u"C:\\sys"};
    dbcs.store.bytes = Package({Entry("\x95\x5C\xB1.txt", 0, "x")});
    EXPECT_EQ(ExtractFiles(engine), 1);
    ASSERT_EQ(dbcs.files.createOrder.size(), 1u);
    const std::u16string expected = kDest + char16_t{0x4E00 + 0x155C} + u'\uFF71' + u".txt";
    EXPECT_EQ(dbcs.files.createOrder[0], expected);
}

TEST(ExtractFiles, DriverInstallerRunsOnceAfterTheLastEntryOnKind5Only) {
    const std::vector<std::uint8_t> lastWritten =
        Package({Entry("QuentaroDriver32setup.exe", 0, "x"), Entry("a", 0, "y")});
    const std::vector<std::uint8_t> lastNotWritten = Package({Entry("a", 0, "y"), Entry("other", 4, "z")});
    for (const auto* package : {&lastWritten, &lastNotWritten}) {
        for (std::int32_t kind = -1; kind <= 5; ++kind) {
            Rig rig(kind);
            EXPECT_EQ(Extract(rig, *package), 1);
            if (kind != 5) {
                EXPECT_TRUE(rig.shell.calls.empty()) << kind;
                continue;
            }
            ASSERT_EQ(rig.shell.calls.size(), 1u);
            EXPECT_EQ(rig.shell.calls[0].program, u"C:\\dest\\QuentaroDriver32setup.exe");
            EXPECT_EQ(rig.shell.calls[0].parameters, u"Quentaro.inf");
            EXPECT_EQ(rig.shell.calls[0].folder, u"C:\\dest");
            EXPECT_TRUE(rig.shell.calls[0].packageOpen);  // the package stays open while it runs
        }
    }
}

TEST(ExtractFiles, ADriverInstallerThatCannotBeStartedEndsTheSetupWithItsMessage) {
    // The files are written and stay; the setup says that the driver was not installed, after the
    // package has been closed.
    Rig rig(5);
    rig.shell.starts = false;
    EXPECT_EQ(Extract(rig, Package({Entry("QUENTARO.exe", 0, "x"), Entry("Quentaro.inf", 0, "y")})), 0);
    ASSERT_EQ(rig.shell.calls.size(), 1u);
    EXPECT_EQ(rig.ui.errors, std::vector<std::u16string>{kMsgDriverInstallerFailed});
    EXPECT_EQ(rig.files.createOrder,
              (std::vector<std::u16string>{kDest + u"QUENTARO.exe", kDest + u"Quentaro.inf"}));
    EXPECT_EQ(rig.files.files[kDest + u"QUENTARO.exe"].data, Bytes("x"));
}

TEST(ExtractFiles, NothingForTheDestinationFolderFailsSilently) {
    const struct {
        std::int32_t kind;
        std::vector<pack::ImageEntry> entries;
    } cases[] = {
        {0, {}},
        {3, {Entry("sys", 3, "data")}},
        {1, {Entry("other", 2, "data")}},
        {0, {Entry("empty", 0, ""), Entry("empty2", 0, "")}},
        {5, {Entry("sys", 5, "data")}},
    };
    for (const auto& c : cases) {
        Rig rig(c.kind);
        EXPECT_EQ(Extract(rig, Package(c.entries)), 0);
        EXPECT_TRUE(rig.ui.errors.empty());
        EXPECT_TRUE(rig.files.createOrder.empty());
        EXPECT_TRUE(rig.ui.log.empty());
        EXPECT_TRUE(rig.shell.calls.empty());
    }
}

TEST(ExtractFiles, PackageThatCannotBeOpened) {
    Rig rig;
    rig.store.present = false;
    EXPECT_EQ(ExtractFiles(rig.engine), 0);
    EXPECT_EQ(rig.ui.errors, std::vector<std::u16string>{kMsgDataFileNotFound});
    Rig size;
    size.store.present = false;
    EXPECT_EQ(GetInstallSize(size.engine), 0u);
    EXPECT_EQ(size.ui.errors, std::vector<std::u16string>{kMsgDataFileNotFound});
}

TEST(ExtractFiles, FaultsWhileWritingStopWithTheirMessage) {
    const std::vector<std::uint8_t> package = Package(
        {Entry("first", 0, Repeat('1', 300)), Entry("second", 0, Repeat('2', 600)), Entry("third", 0, "3")});
    const std::u16string second = kDest + u"second";
    struct Case {
        const char* what;
        void (*arrange)(Rig&, const std::u16string&);
        const char16_t* message;
    };
    const Case cases[] = {
        {"cannot create", [](Rig& r, const std::u16string& p) { r.files.refused.insert(p); },
         kMsgDataFileNotFound},
        // Found only when the written file is to take the name: the same message.
        {"old file cannot be replaced",
         [](Rig& r, const std::u16string& p) { r.files.failCommitTo.insert(p); }, kMsgDataFileNotFound},
        {"write error", [](Rig& r, const std::u16string& p) { r.files.failWritesTo = p; },
         kMsgFileWriteFailed},
        {"disk full", [](Rig& r, const std::u16string&) { r.files.capacity = 300 + 400; }, kMsgDiskFull},
        {"times", [](Rig& r, const std::u16string&) { r.files.failTimes = true; }, kMsgFileWriteFailed},
        {"close", [](Rig& r, const std::u16string&) { r.files.failClose = true; }, kMsgFileWriteFailed},
        {"disk full at close",
         [](Rig& r, const std::u16string&) {
             r.files.failClose = true;
             r.files.closeFailure = WriteStatus::kDiskFull;
         },
         kMsgDiskFull},
    };
    for (const Case& c : cases) {
        Rig rig(5);
        c.arrange(rig, second);
        EXPECT_EQ(Extract(rig, package), 0) << c.what;
        EXPECT_EQ(rig.ui.errors, std::vector<std::u16string>{c.message}) << c.what;
        EXPECT_TRUE(rig.shell.calls.empty());
        EXPECT_EQ(rig.files.files.count(kDest + u"third"), 0u) << c.what;
        if (!rig.files.failTimes && !rig.files.failClose) {
            EXPECT_EQ(rig.files.files[kDest + u"first"].data, Bytes(Repeat('1', 300))) << c.what;
            // The log keeps the line of the file that failed.
            EXPECT_EQ(rig.ui.log, u"\nCreate \"first\"...\nCreate \"second\"...") << c.what;
        }
    }
}

TEST(ExtractFiles, ReadFaultsWhileCopyingStopWithTheReadMessage) {
    const std::vector<std::uint8_t> package =
        Package({Entry("first", 0, Repeat('1', 300)), Entry("second", 0, "2")});
    Rig ioError;
    ioError.store.ioErrorAt = package.size() - 3;  // inside the last entry's data
    EXPECT_EQ(Extract(ioError, package), 0);
    EXPECT_EQ(ioError.ui.errors, std::vector<std::u16string>{kMsgDataFileReadFailed});
    EXPECT_EQ(ioError.files.files[kDest + u"first"].data.size(), 300u);

    // The file reports more bytes than it holds: the data seems inside, the read comes up short.
    std::vector<std::uint8_t> cut = package;
    cut.resize(cut.size() - 200);
    Rig shortRead;
    shortRead.store.reportedSize = package.size();
    EXPECT_EQ(Extract(shortRead, cut), 0);
    EXPECT_EQ(shortRead.ui.errors, std::vector<std::u16string>{kMsgDataFileReadFailed});
}

TEST(ExtractFiles, HostileNamesWriteNothing) {
    const struct {
        std::string name;
        std::uint8_t target;
        std::int32_t kind;
    } cases[] = {
        {"..\\evil.exe", 0, 0}, {"a/b", 0, 0},      {"C:x", 0, 0},
        {"c:\\windows", 0, 0},  {"", 0, 0},         {".", 0, 0},
        {"..", 0, 0},           {"a:stream", 0, 0}, {"%x", 3, 3},
        {"ab%", 3, 3},          {"ab%x", 4, 4},     {"con", 0, 0},
        {"a?", 0, 0},           {"x.", 0, 0},       {"..\\%xa.dll", 1, 1},
        {"dir\\%xa.dll", 5, 5}, {"a\tb", 0, 0},
    };
    for (const auto& c : cases) {
        Rig rig(c.kind);
        // The hostile entry comes last: nothing before it may be written either.
        EXPECT_EQ(Extract(rig, Package({Entry("good", 0, "g"), Entry(c.name, c.target, "x")})), 0) << c.name;
        EXPECT_EQ(rig.ui.errors, std::vector<std::u16string>{kMsgDataFileDamaged}) << c.name;
        EXPECT_TRUE(rig.files.createOrder.empty()) << c.name;
        EXPECT_TRUE(rig.ui.log.empty());
        EXPECT_TRUE(rig.ui.progress.empty());
        EXPECT_TRUE(rig.shell.calls.empty());
    }
}

TEST(ExtractFiles, PackagesOutsideTheFormatWriteNothing) {
    const std::vector<std::uint8_t> good = Package({Entry("a", 0, "aaaa"), Entry("b", 0, "bbbb")});
    const std::uint64_t end = good.size() - 2;
    struct Case {
        const char* what;
        std::uint64_t at;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"count beyond the table", kEntryCountOffset, 3},
        {"count far beyond", kEntryCountOffset, 0x7FFFFFFF},
        {"data past the end", EntryField(1, kDataOffsetOffset), static_cast<std::uint32_t>(end - 3)},
        {"size past the end", EntryField(1, kDataSizeOffset), 0x10000},
        {"offset near 4 GiB", EntryField(1, kDataOffsetOffset), 0xFFFFFFFE},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> image = good;
        PatchU32(image, c.at, c.value);
        Rig rig;
        EXPECT_EQ(Extract(rig, image), 0) << c.what;
        EXPECT_EQ(rig.ui.errors, std::vector<std::u16string>{kMsgDataFileDamaged}) << c.what;
        EXPECT_TRUE(rig.files.createOrder.empty()) << c.what;
    }
    // Truncated anywhere before its check value.
    for (std::size_t length :
         {std::size_t{0}, std::size_t{10}, std::size_t{33}, std::size_t{40}, good.size() - 5}) {
        std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        Rig rig;
        EXPECT_EQ(Extract(rig, cut), 0) << length;
        EXPECT_EQ(rig.ui.errors, std::vector<std::u16string>{kMsgDataFileDamaged}) << length;
        EXPECT_TRUE(rig.files.createOrder.empty());
    }
    // 2 GiB long.
    Rig huge;
    huge.store.reportedSize = 0x80000000u;
    huge.store.zeroTail = true;
    EXPECT_EQ(Extract(huge, good), 0);
    EXPECT_EQ(huge.ui.errors, std::vector<std::u16string>{kMsgDataFileDamaged});
}

TEST(ExtractFiles, InvalidTimeStampsWriteNothing) {
    for (const char* stamp : {"20080230120000", "20081301000000", "20080401240000", "19691231235959",
                              "20380119031408", "2008", "abcdefghijklmn"}) {
        Rig rig;
        EXPECT_EQ(Extract(rig, Package({Entry("good", 0, "g"), Entry("bad", 0, "b", stamp)})), 0) << stamp;
        EXPECT_EQ(rig.ui.errors, std::vector<std::u16string>{kMsgDataFileDamaged}) << stamp;
        EXPECT_TRUE(rig.files.createOrder.empty()) << stamp;
    }
}

TEST(ExtractFiles, SharedDataAreas) {
    // Two entries over the same bytes install the same contents.
    std::vector<std::uint8_t> image = Package({Entry("a", 0, "shared"), Entry("b", 0, "")});
    PatchU32(image, EntryField(1, kDataOffsetOffset), static_cast<std::uint32_t>(EntryRecordOffset(2)));
    PatchU32(image, EntryField(1, kDataSizeOffset), 6);
    Rig rig;
    EXPECT_EQ(Extract(rig, image), 1);
    EXPECT_EQ(rig.files.files[kDest + u"b"].data, Bytes("shared"));
    EXPECT_EQ(rig.ui.progress.back(), 100);
}

TEST(GetInstallSize, SumsInSixtyFourBitsOverSharedData) {
    // Three entries each of 1.5 GiB over one data area of a package just under 2 GiB: the sum
    // needs more than 32 bits.
    const std::uint32_t size = 0x60000000u;
    std::vector<std::uint8_t> image =
        Package({Entry("a", 0, ""), Entry("b", 0, ""), Entry("c", 3, ""), Entry("d", 4, "")});
    for (std::uint32_t i = 0; i < 4; ++i) PatchU32(image, EntryField(i, kDataSizeOffset), size);
    const struct {
        std::int32_t kind;
        std::uint64_t expected;
    } cases[] = {{0, 2ull * size}, {5, 3ull * size}, {4, 2ull * size}, {3, 2ull * size}};
    for (const auto& c : cases) {
        Rig rig(c.kind);
        rig.store.bytes = image;
        rig.store.reportedSize = std::uint64_t{size} + 0x1000;
        rig.store.zeroTail = true;
        EXPECT_EQ(GetInstallSize(rig.engine), c.expected) << c.kind;
        EXPECT_TRUE(rig.ui.errors.empty());
        EXPECT_FALSE(rig.store.isOpen);
    }
    EXPECT_GT(3ull * size, 0xFFFFFFFFull);
}

TEST(GetInstallSize, TableOutsideThePackageIsDamaged) {
    std::vector<std::uint8_t> image = Package({Entry("a", 0, "x")});
    PatchU32(image, kEntryCountOffset, 0xFFFFFFFF);
    Rig rig;
    rig.store.bytes = image;
    EXPECT_EQ(GetInstallSize(rig.engine), 0u);
    EXPECT_EQ(rig.ui.errors, std::vector<std::u16string>{kMsgDataFileDamaged});
}

TEST(ParseTimeStamp, AlwaysReturnsOneAndSetsTheSixNumbers) {
    const std::uint8_t stamp[16] = {'1', '9', '9', '9', '1', '2', '3', '1',
                                    '2', '3', '5', '9', '5', '8', '7', '7'};
    std::int32_t y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    EXPECT_EQ(ParseTimeStamp(stamp, y, mo, d, h, mi, s), 1);
    EXPECT_EQ(std::vector<std::int32_t>({y, mo, d, h, mi, s}),
              std::vector<std::int32_t>({1999, 12, 31, 23, 59, 58}));
    const std::uint8_t junk[16] = {'x'};
    EXPECT_EQ(ParseTimeStamp(junk, y, mo, d, h, mi, s), 1);
    EXPECT_EQ(y, 1999);
}

}  // namespace
}  // namespace quentaro
