#include "tools/host_ports.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "tools/codepage.h"

namespace quentaro::pack {

namespace {

class HostPackageFile : public PackageFile {
public:
    HostPackageFile(std::ifstream stream, const FileIdentity& identity)
        : m_stream(std::move(stream)), m_identity(identity) {
        m_stream.seekg(0, std::ios::end);
        const std::streamoff end = m_stream.tellg();
        m_size = end < 0 ? 0 : static_cast<std::uint64_t>(end);
        m_stream.seekg(0);
    }
    bool GetIdentity(FileIdentity& identity) override {
        identity = m_identity;
        return true;
    }
    std::uint64_t Size() override { return m_size; }
    bool Seek(std::uint64_t offset) override {
        m_stream.clear();
        m_stream.seekg(static_cast<std::streamoff>(offset));
        return !m_stream.fail();
    }
    ReadResult Read(std::uint8_t* buffer, std::size_t count) override {
        ReadResult result;
        if (count == 0) return result;
        m_stream.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(count));
        result.count = static_cast<std::size_t>(m_stream.gcount());
        result.ioError = m_stream.bad();
        m_stream.clear();
        return result;
    }

private:
    std::ifstream m_stream;
    FileIdentity m_identity;
    std::uint64_t m_size = 0;
};

}  // namespace

std::u16string CodePageDecoder::DecodeAnsi(const std::uint8_t* bytes, std::size_t count) {
    std::u16string name;
    if (!DecodeName(bytes, count, m_codePage, name) || name.size() > kNameSize) return std::u16string();
    return name;
}

std::unique_ptr<PackageFile> HostPackageStore::Open(const std::u16string& name) {
    const std::string path = Utf16ToUtf8(name);
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return nullptr;
    // The device and inode of the name just opened (a tool's reading: the name is not expected to
    // change under it).
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return nullptr;
    const FileIdentity identity{static_cast<std::uint64_t>(status.st_dev),
                                static_cast<std::uint64_t>(status.st_ino)};
    return std::make_unique<HostPackageFile>(std::move(stream), identity);
}

std::string ReadFailureReason(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::strerror(errno);
    std::fclose(file);
    return "cannot be read";
}

}  // namespace quentaro::pack
