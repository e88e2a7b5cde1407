// Packages for the tests, built in memory with the package tool's layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/package.h"
#include "tools/pack.h"

namespace quentaro::fixtures {

inline constexpr char kStamp[] = "20080401120000";

inline pack::ImageEntry Entry(const std::string& name, std::uint8_t target, const std::string& data,
                              const std::string& stamp = kStamp) {
    pack::ImageEntry entry;
    entry.name.assign(name.begin(), name.end());
    entry.timeStamp = stamp;
    entry.target = target;
    entry.data.assign(data.begin(), data.end());
    return entry;
}

inline std::vector<std::uint8_t> Package(const std::vector<pack::ImageEntry>& entries) {
    return pack::BuildImage(entries);
}

// Patches a little-endian u32 into an image, e.g. an entry's DataOffset.
inline void PatchU32(std::vector<std::uint8_t>& image, std::uint64_t offset, std::uint32_t value) {
    WriteU32Le(image.data() + offset, value);
}

inline std::uint64_t EntryField(std::uint32_t index, std::uint32_t field) {
    return EntryRecordOffset(index) + field;
}

inline std::string Repeat(char c, std::size_t n) {
    return std::string(n, c);
}

}  // namespace quentaro::fixtures

