// Fakes of the engine's ports for the native tests and the fuzz targets, over the memory ports: an
// in-memory package with faults on request, a recording install page, an in-memory target file
// system that keeps the bytes and fails on request, a double-byte name decoder, a clock that can fail
// and a recording shell.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/memory_ports.h"
#include "core/package.h"
#include "core/ports.h"

namespace quentaro::fakes {

class FakePackageStore;

// An open package file: it reads the bytes that the package had when it was opened, as a file
// that is replaced under its name keeps its own content.
class FakePackageFile : public PackageFile {
public:
    FakePackageFile(FakePackageStore& store, std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                    std::uint64_t generation);
    ~FakePackageFile() override;
    bool GetIdentity(FileIdentity& identity) override {
        identity = FileIdentity{7, m_generation};
        return true;
    }
    std::uint64_t Size() override;
    bool Seek(std::uint64_t offset) override {
        m_position = offset;
        return true;
    }
    ReadResult Read(std::uint8_t* buffer, std::size_t count) override;

private:
    FakePackageStore& m_store;
    std::shared_ptr<const std::vector<std::uint8_t>> m_bytes;
    std::uint64_t m_generation;
    std::uint64_t m_position = 0;
};

// The package as bytes in memory. Open fails when it is not present; readers share it. Bytes that
// differ from those of the last open make a new file under the package's name (another identity).
class FakePackageStore : public PackageStore {
public:
    std::vector<std::uint8_t> bytes;
    bool present = true;
    // The length the file reports, when it differs from bytes.size(): reads beyond the bytes then
    // come up short, or give zeros when zeroTail is set.
    std::optional<std::uint64_t> reportedSize;
    bool zeroTail = false;
    // A read that covers this offset fails with an input/output error.
    std::optional<std::uint64_t> ioErrorAt;
    // A read gives at most this many bytes (ReadFile may return fewer than asked).
    std::optional<std::size_t> maxRead;

    int opens = 0;
    int openFiles = 0;
    bool isOpen = false;  // openFiles > 0
    std::u16string openedName;
    std::vector<std::size_t> readSizes;  // the count asked for by every read
    std::uint64_t delivered = 0;         // bytes given by all reads so far

    std::unique_ptr<PackageFile> Open(const std::u16string& name) override {
        ++opens;
        openedName = name;
        if (!present) return nullptr;
        if (!m_current || *m_current != bytes) {
            m_current = std::make_shared<const std::vector<std::uint8_t>>(bytes);
            ++m_generation;
        }
        return std::make_unique<FakePackageFile>(*this, m_current, m_generation);
    }

private:
    std::shared_ptr<const std::vector<std::uint8_t>> m_current;
    std::uint64_t m_generation = 0;
};

inline FakePackageFile::FakePackageFile(FakePackageStore& store,
                                        std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                                        std::uint64_t generation)
    : m_store(store), m_bytes(std::move(bytes)), m_generation(generation) {
    ++m_store.openFiles;
    m_store.isOpen = true;
}
inline FakePackageFile::~FakePackageFile() {
    m_store.isOpen = --m_store.openFiles > 0;
}

inline std::uint64_t FakePackageFile::Size() {
    return m_store.reportedSize ? *m_store.reportedSize : m_bytes->size();
}

inline ReadResult FakePackageFile::Read(std::uint8_t* buffer, std::size_t count) {
    m_store.readSizes.push_back(count);
    ReadResult result;
    if (m_store.ioErrorAt && *m_store.ioErrorAt >= m_position && *m_store.ioErrorAt - m_position < count) {
        result.ioError = true;
        return result;
    }
    const std::vector<std::uint8_t>& bytes = *m_bytes;
    const std::uint64_t end = m_store.zeroTail ? Size() : bytes.size();
    const std::size_t most = m_store.maxRead && *m_store.maxRead < count ? *m_store.maxRead : count;
    if (m_position < end) {
        const std::uint64_t available = end - m_position;
        result.count = available < most ? static_cast<std::size_t>(available) : most;
        // The stored bytes, then zeros for a reported length beyond them.
        const std::uint64_t stored = m_position < bytes.size() ? bytes.size() - m_position : 0;
        const std::size_t copied = stored < result.count ? static_cast<std::size_t>(stored) : result.count;
        if (copied > 0) std::memcpy(buffer, bytes.data() + m_position, copied);
        if (result.count > copied) std::memset(buffer + copied, 0, result.count - copied);
        m_position += result.count;
    }
    m_store.delivered += result.count;
    return result;
}

// The install page: records what the engine shows, in order.
class FakeUi : public InstallUi {
public:
    explicit FakeUi(const FakePackageStore* store = nullptr) : m_store(store) {}

    std::vector<std::u16string> errors;
    std::vector<bool> packageOpenAtError;  // whether the package was open when each box was shown
    std::vector<std::int32_t> progress;
    std::vector<std::uint64_t> progressAt;  // the package bytes read when each value was given
    std::u16string log;
    bool recordProgress = true;
    std::int32_t maxProgress = -1;
    std::int32_t lastProgress = -1;

    void ShowError(const std::u16string& text) override {
        errors.push_back(text);
        packageOpenAtError.push_back(m_store != nullptr && m_store->isOpen);
    }
    void SetProgress(std::int32_t percent) override {
        if (recordProgress) {
            progress.push_back(percent);
            progressAt.push_back(m_store != nullptr ? m_store->delivered : 0);
        }
        if (percent > maxProgress) maxProgress = percent;
        lastProgress = percent;
    }
    void AppendLog(const std::u16string& text) override { log += text; }

private:
    const FakePackageStore* m_store;
};

struct FakeFileRecord {
    std::vector<std::uint8_t> data;
    bool open = false;
    int creates = 0;
    std::vector<std::size_t> writeSizes;
    std::optional<FileTimes> times;
    bool timesSetWhileOpen = false;
};

class FakeFileSystem;

// A file written under `path` + kTemporarySuffix, renamed to `path` by Commit.
class FakeTargetFile : public TargetFile {
public:
    FakeTargetFile(FakeFileSystem& fs, std::u16string path);
    ~FakeTargetFile() override;
    WriteStatus Write(const std::uint8_t* data, std::size_t count) override;
    WriteStatus Close() override;
    bool SetTimes(const FileTimes& times) override;
    bool Commit() override;

private:
    FakeFileSystem& m_fs;
    std::u16string m_path;
    std::u16string m_temporary;
    bool m_committed = false;
};

// Target folders in memory, keyed by full path.
class FakeFileSystem : public TargetFileSystem {
public:
    static constexpr char16_t kTemporarySuffix[] = u".~tmp";

    std::map<std::u16string, FakeFileRecord> files;
    std::vector<std::u16string> createOrder;
    std::set<std::u16string> refused;       // paths that cannot be created
    std::optional<std::uint64_t> capacity;  // bytes that fit on the disk, over all files
    std::optional<std::u16string> failWritesTo;
    bool failClose = false;
    WriteStatus closeFailure = WriteStatus::kFailed;  // what a failing close reports
    bool failTimes = false;
    std::set<std::u16string> failCommitTo;  // paths whose old file cannot be replaced at the end
    bool keepData = true;                   // false: count bytes without keeping them
    std::uint64_t bytesWritten = 0;

    std::unique_ptr<TargetFile> Create(const std::u16string& path) override {
        createOrder.push_back(path);
        if (refused.count(path) != 0) return nullptr;
        const auto old = files.find(path);
        if (old != files.end() && old->second.open) return nullptr;  // busy
        if (files.count(path + kTemporarySuffix) != 0) return nullptr;
        FakeFileRecord& record = files[path + kTemporarySuffix];
        record.open = true;
        return std::make_unique<FakeTargetFile>(*this, path);
    }
};

inline FakeTargetFile::FakeTargetFile(FakeFileSystem& fs, std::u16string path)
    : m_fs(fs), m_path(std::move(path)), m_temporary(m_path + FakeFileSystem::kTemporarySuffix) {}

inline FakeTargetFile::~FakeTargetFile() {
    if (m_committed) return;
    const auto it = m_fs.files.find(m_temporary);
    if (it == m_fs.files.end()) return;
    for (std::size_t size : it->second.writeSizes) m_fs.bytesWritten -= size;  // the space comes back
    m_fs.files.erase(it);
}

inline WriteStatus FakeTargetFile::Write(const std::uint8_t* data, std::size_t count) {
    FakeFileRecord& record = m_fs.files[m_temporary];
    if (m_fs.failWritesTo && *m_fs.failWritesTo == m_path) return WriteStatus::kFailed;
    if (m_fs.capacity && m_fs.bytesWritten + count > *m_fs.capacity) return WriteStatus::kDiskFull;
    record.writeSizes.push_back(count);
    m_fs.bytesWritten += count;
    if (m_fs.keepData) record.data.insert(record.data.end(), data, data + count);
    return WriteStatus::kOk;
}

inline WriteStatus FakeTargetFile::Close() {
    m_fs.files[m_temporary].open = false;
    return m_fs.failClose ? m_fs.closeFailure : WriteStatus::kOk;
}

inline bool FakeTargetFile::SetTimes(const FileTimes& times) {
    if (m_fs.failTimes) return false;
    FakeFileRecord& record = m_fs.files[m_temporary];
    record.times = times;
    record.timesSetWhileOpen = record.open;
    return true;
}

inline bool FakeTargetFile::Commit() {
    if (m_fs.failCommitTo.count(m_path) != 0) return false;
    const auto it = m_fs.files.find(m_temporary);
    FakeFileRecord record = std::move(it->second);
    m_fs.files.erase(it);
    FakeFileRecord& named = m_fs.files[m_path];
    record.creates = named.creates + 1;
    named = std::move(record);
    m_committed = true;
    return true;
}

// A small Shift_JIS-like code page: a lead byte 0x81-0x9F or 0xE0-0xFC and the byte after it form one
// ideograph (so 0x95 0x5C, "表", holds no backslash); 0xA1-0xDF are half-width katakana; a lead byte at
// the end fails the decoding.
class DoubleByteDecoder : public NameDecoder {
public:
    std::u16string DecodeAnsi(const std::uint8_t* bytes, std::size_t count) override {
        std::u16string out;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t b = bytes[i];
            if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
                if (i + 1 == count) return std::u16string();
                out.push_back(static_cast<char16_t>(0x4E00 + ((b << 8 | bytes[i + 1]) & 0x3FFF)));
                ++i;
            } else if (b >= 0xA1 && b <= 0xDF) {
                out.push_back(static_cast<char16_t>(0xFF61 + (b - 0xA1)));
            } else {
                out.push_back(b < 0x80 ? char16_t{b} : u'\uFFFD');
            }
        }
        return out;
    }
};

// Local time is UTC plus a fixed offset, or cannot be converted at all.
class FakeClock : public memory::FixedOffsetClock {
public:
    using FixedOffsetClock::FixedOffsetClock;
    bool fail = false;
    bool LocalToUtc(const LocalTime& local, std::int64_t& utcSeconds) override {
        return !fail && FixedOffsetClock::LocalToUtc(local, utcSeconds);
    }
};

class FakeShell : public Shell {
public:
    struct Call {
        std::u16string program;
        std::u16string parameters;
        std::u16string folder;
        bool packageOpen = false;
    };
    explicit FakeShell(const FakePackageStore* store = nullptr) : m_store(store) {}
    std::vector<Call> calls;
    bool starts = true;  // whether the program can be started
    bool RunAndWait(const std::u16string& program, const std::u16string& parameters,
                    const std::u16string& folder) override {
        calls.push_back({program, parameters, folder, m_store != nullptr && m_store->isOpen});
        return starts;
    }

private:
    const FakePackageStore* m_store;
};

// All fakes wired to one engine.
struct Rig {
    explicit Rig(std::int32_t platformKind = 0)
        : engine{store, ui, files, names, clock, shell, platformKind, u"C:\\dest", u"C:\\sys"} {}
    FakePackageStore store;
    FakeUi ui{&store};
    FakeFileSystem files;
    memory::ByteDecoder names;
    FakeClock clock;
    FakeShell shell{&store};
    InstallEngine engine;
};

}  // namespace quentaro::fakes

