// Package images in memory: the header, the entry table and the data laid out as the setup reads
// them, and the check value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/package.h"

namespace quentaro::pack {

// One entry of a package image, its name already encoded.
struct ImageEntry {
    std::vector<std::uint8_t> name;  // at most 32 bytes
    std::string timeStamp;           // up to 16 bytes, normally 14 digits
    std::uint8_t target = 0;
    std::vector<std::uint8_t> data;
};

// The entry's record, its data `size` bytes at `offset`.
PackageEntry MakeEntry(const ImageEntry& entry, std::uint32_t offset, std::uint32_t size);

// Header and entry table for entries of the given sizes, the data laid out after the table in
// entry order. `sizes` has one element per entry.
std::vector<std::uint8_t> LayoutTable(const std::vector<ImageEntry>& entries,
                                      const std::vector<std::uint32_t>& sizes);

// A whole package in memory: header, table, each entry's data in order, check value.
std::vector<std::uint8_t> BuildImage(const std::vector<ImageEntry>& entries);

// Rewrites the last two bytes with the check value of everything before them (for images changed
// after they were built). The image holds at least two bytes.
void SealImage(std::vector<std::uint8_t>& image);

}  // namespace quentaro::pack
