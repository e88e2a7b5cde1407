#include "core/checks.h"

#include <array>
#include <memory>
#include <vector>

#include "core/crc16.h"
#include "core/progress.h"

namespace quentaro {

namespace {

// One reader's view of the shared file, with a position of its own.
class HeldPackageView : public PackageFile {
public:
    explicit HeldPackageView(std::shared_ptr<HeldPackage> held) : m_held(std::move(held)) {}

    bool GetIdentity(FileIdentity& identity) override {
        return m_held->file && m_held->file->GetIdentity(identity);
    }
    std::uint64_t Size() override { return m_held->file ? m_held->file->Size() : 0; }
    bool Seek(std::uint64_t offset) override {
        m_position = offset;
        return m_held->file && m_held->file->Seek(offset);
    }
    ReadResult Read(std::uint8_t* buffer, std::size_t count) override {
        ReadResult result;
        // Another view may have moved the file's position since this one read.
        if (!m_held->file || !m_held->file->Seek(m_position)) {
            result.ioError = true;
            return result;
        }
        result = m_held->file->Read(buffer, count);
        m_position += result.count;
        return result;
    }

private:
    std::shared_ptr<HeldPackage> m_held;
    std::uint64_t m_position = 0;
};

// Closes this reader's view and the package: a failed check never keeps the file open behind its
// message box.
InstallError Fail(const InstallEngine& engine, std::unique_ptr<PackageFile>& file, InstallError error) {
    file.reset();
    ReleasePackage(engine);
    return error;
}

// Opens the package, reads the four bytes at `offset` and closes this reader's view. On failure the
// package has been released.
InstallError ReadHeaderField(const InstallEngine& engine, std::uint64_t offset, std::uint8_t* bytes) {
    InstallError error = InstallError::kNone;
    std::unique_ptr<PackageFile> file = OpenPackage(engine, error);
    if (!file) return error;
    if (!ReadZeroPadded(*file, offset, bytes, 4))
        return Fail(engine, file, InstallError::kDataFileReadFailed);
    return InstallError::kNone;
}

// Reads the four bytes at `offset` and tests them with `accepted`; a field that fails releases the
// package.
InstallError VerifyHeaderField(const InstallEngine& engine, std::uint64_t offset,
                               bool (*accepted)(const std::uint8_t*)) {
    std::array<std::uint8_t, 4> bytes{};
    const InstallError error = ReadHeaderField(engine, offset, bytes.data());
    if (error != InstallError::kNone) return error;
    if (accepted(bytes.data())) return InstallError::kNone;
    ReleasePackage(engine);
    return InstallError::kDataFileDamaged;
}

}  // namespace

std::unique_ptr<PackageFile> OpenPackage(const InstallEngine& engine, InstallError& error) {
    std::unique_ptr<PackageFile> opened = engine.package.Open(engine.packageName);
    if (!opened) {
        ReleasePackage(engine);
        error = InstallError::kDataFileNotFound;
        return nullptr;
    }
    HeldPackage& held = *engine.held;
    if (!held.file) {
        held.file = std::move(opened);
    } else {
        FileIdentity now;
        FileIdentity checked;
        const bool same = opened->GetIdentity(now) && held.file->GetIdentity(checked) && now == checked;
        opened.reset();
        if (!same) {
            ReleasePackage(engine);
            error = InstallError::kDataFileReplaced;
            return nullptr;
        }
    }
    return std::make_unique<HeldPackageView>(engine.held);
}

void ReleasePackage(const InstallEngine& engine) {
    engine.held->file.reset();
}

ReadResult ReadFully(PackageFile& file, std::uint8_t* buffer, std::size_t count) {
    ReadResult total;
    while (total.count < count) {
        const ReadResult part = file.Read(buffer + total.count, count - total.count);
        if (part.ioError) {
            total.ioError = true;
            return total;
        }
        if (part.count == 0) break;
        total.count += part.count > count - total.count ? count - total.count : part.count;
    }
    return total;
}

bool ReadZeroPadded(PackageFile& file, std::uint64_t offset, std::uint8_t* buffer, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) buffer[i] = 0;
    if (!file.Seek(offset)) return false;
    const ReadResult read = ReadFully(file, buffer, count);
    return !read.ioError;
}

bool IsPackageSignature(const std::uint8_t* bytes) {
    for (std::size_t i = 0; i < kSignatureSize; ++i) {
        if (bytes[i] != kPackageSignature[i]) return false;
    }
    return true;
}

bool IsAcceptedVersion(const std::uint8_t* bytes) {
    // Plain byte-string order of the stored text against "V1.0": accepted when it does not sort after.
    std::size_t length = 0;
    while (length < kVersionSize && bytes[length] != 0) ++length;
    for (std::size_t i = 0; i < length; ++i) {
        if (bytes[i] != kPackageVersion[i]) return bytes[i] < kPackageVersion[i];
    }
    return true;  // equal, or a proper beginning of "V1.0"
}

InstallError VerifySignature(const InstallEngine& engine) {
    return VerifyHeaderField(engine, kSignatureOffset, IsPackageSignature);
}

InstallError VerifyVersion(const InstallEngine& engine) {
    return VerifyHeaderField(engine, kVersionOffset, IsAcceptedVersion);
}

InstallError VerifyCrc(const InstallEngine& engine) {
    InstallError error = InstallError::kNone;
    std::unique_ptr<PackageFile> file = OpenPackage(engine, error);
    if (!file) return error;
    const std::uint64_t length = file->Size();
    // A file of 2 GiB or more is no package; reading it through would only take long.
    if (length > kMaxPackageLength) return Fail(engine, file, InstallError::kDataFileDamaged);
    if (!file->Seek(0)) return Fail(engine, file, InstallError::kDataFileReadFailed);

    const std::size_t blockSize = engine.crcBlockSize > 0 ? engine.crcBlockSize : kCrcBlockSize;
    std::vector<std::uint8_t> block(blockSize);
    std::uint16_t r = kCrc16Initial;
    std::uint64_t done = 0;
    // The value after every byte is floor(50 * done / length); the bar is given it after the first
    // byte and after every byte that changes it, which is all that a position the bar already has
    // could show. The bytes in between run through the register in one go.
    CheckProgressSteps steps(length);
    bool given = false;
    while (done < length) {
        const std::uint64_t left = length - done;
        const std::size_t want = left < blockSize ? static_cast<std::size_t>(left) : blockSize;
        const ReadResult read = file->Read(block.data(), want);
        // The file is held denying writers, so it cannot have shrunk: no bytes before its end is a
        // read error.
        if (read.ioError || read.count == 0) return Fail(engine, file, InstallError::kDataFileReadFailed);
        const std::size_t count = read.count < want ? read.count : want;
        std::size_t i = 0;
        while (i < count) {
            const std::uint64_t toStep = given ? steps.Next() - done : 1;
            const std::size_t run = toStep < count - i ? static_cast<std::size_t>(toStep) : count - i;
            r = Crc16Update(r, block.data() + i, run);
            i += run;
            done += run;
            if (!given || done == steps.Next()) {
                engine.ui.SetProgress(steps.Reach(done));
                given = true;
            }
        }
    }
    if (r == kCrc16Residue) return InstallError::kNone;
    return Fail(engine, file, InstallError::kDataFileDamaged);
}

int ReportResult(InstallUi& ui, InstallError error) {
    if (error == InstallError::kNone) return 1;
    if (const char16_t* message = MessageOf(error)) ui.ShowError(message);
    return 0;
}

int CheckSignature(const InstallEngine& engine) {
    return ReportResult(engine.ui, VerifySignature(engine));
}

int CheckVersion(const InstallEngine& engine) {
    return ReportResult(engine.ui, VerifyVersion(engine));
}

int CheckCrc(const InstallEngine& engine) {
    return ReportResult(engine.ui, VerifyCrc(engine));
}

}  // namespace quentaro
