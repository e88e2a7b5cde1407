#include "core/memory_ports.h"

#include <cstring>

namespace quentaro::memory {
namespace {

class MemoryPackageFile : public PackageFile {
public:
    explicit MemoryPackageFile(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
    bool GetIdentity(FileIdentity& identity) override {
        identity = FileIdentity{0, 1};
        return true;
    }
    std::uint64_t Size() override { return m_bytes.size(); }
    bool Seek(std::uint64_t offset) override {
        m_position = offset;
        return true;
    }
    ReadResult Read(std::uint8_t* buffer, std::size_t count) override {
        ReadResult result;
        if (m_position >= m_bytes.size()) return result;
        const std::uint64_t left = m_bytes.size() - m_position;
        result.count = left < count ? static_cast<std::size_t>(left) : count;
        std::memcpy(buffer, m_bytes.data() + m_position, result.count);
        m_position += result.count;
        return result;
    }

private:
    const std::vector<std::uint8_t>& m_bytes;
    std::uint64_t m_position = 0;
};

class CountingFile : public TargetFile {
public:
    CountingFile(CountingFileSystem& owner, std::u16string path) : m_owner(owner), m_path(std::move(path)) {}
    WriteStatus Write(const std::uint8_t*, std::size_t count) override {
        m_size += count;
        m_owner.bytesWritten += count;
        return WriteStatus::kOk;
    }
    WriteStatus Close() override { return WriteStatus::kOk; }
    bool SetTimes(const FileTimes&) override { return true; }
    bool Commit() override {
        if (m_owner.onCommit) m_owner.onCommit(m_path, m_size);
        return true;
    }

private:
    CountingFileSystem& m_owner;
    std::u16string m_path;  // kept only for onCommit
    std::uint64_t m_size = 0;
};

}  // namespace

std::unique_ptr<PackageFile> MemoryPackageStore::Open(const std::u16string&) {
    return std::make_unique<MemoryPackageFile>(bytes);
}

void CountingUi::ShowError(const std::u16string&) {
    ++errors;
}

void CountingUi::SetProgress(std::int32_t percent) {
    ++progressCalls;
    if (percent != lastProgress) {
        lastProgress = percent;
        ++progressChanges;
    }
}

void CountingUi::AppendLog(const std::u16string& text) {
    loggedCharacters += text.size();
}

std::unique_ptr<TargetFile> CountingFileSystem::Create(const std::u16string& path) {
    ++files;
    return std::make_unique<CountingFile>(*this, onCommit ? path : std::u16string());
}

bool NullShell::RunAndWait(const std::u16string&, const std::u16string&, const std::u16string&) {
    return true;
}

std::u16string ByteDecoder::DecodeAnsi(const std::uint8_t* bytes, std::size_t count) {
    return std::u16string(bytes, bytes + count);
}

bool FixedOffsetClock::LocalToUtc(const LocalTime& local, std::int64_t& utcSeconds) {
    utcSeconds = UtcSecondsOfCivil(local) - offset;
    return true;
}

}  // namespace quentaro::memory
