// The engine's ports as the tool provides them on the computer it runs on: the package as a file of
// this computer, and names decoded in a code page chosen on the command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/ports.h"

namespace quentaro::pack {

// A name decoder for one code page, standing in for the installing computer's ANSI code page.
class CodePageDecoder : public NameDecoder {
public:
    explicit CodePageDecoder(int codePage) : m_codePage(codePage) {}
    std::u16string DecodeAnsi(const std::uint8_t* bytes, std::size_t count) override;

private:
    int m_codePage;
};

// The package as a file of the host, opened through std::ifstream.
class HostPackageStore : public PackageStore {
public:
    std::unique_ptr<PackageFile> Open(const std::u16string& name) override;
};

// The reason the system gives why `path` cannot be opened for reading.
std::string ReadFailureReason(const std::string& path);

}  // namespace quentaro::pack
