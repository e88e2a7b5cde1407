// The manifest a package is built from: one line per entry, its fields separated by TABs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quentaro::pack {

// One parsed manifest line.
struct ManifestEntry {
    int line = 0;
    std::string name;  // UTF-8, as written
    std::vector<std::uint8_t> encodedName;
    std::string timeStamp;
    std::uint8_t target = 0;
    std::string source;  // path of the source file, resolved against the manifest's folder
    std::uint64_t size = 0;
};

struct Manifest {
    std::vector<ManifestEntry> entries;  // the good lines
    std::vector<std::string> errors;     // every error, "line N: ...", in line order
};

// Parses manifest text; `folder` is the manifest's folder, against which relative sources resolve.
// A UTF-8 byte-order mark at the start is skipped. Every entry is checked: known fields only, each
// once, separated by TABs; a name that encodes into at most 32 bytes of `codePage`, reads back the
// same there and is a sound file name in every folder the entry can go to; a 14-digit time stamp of a
// real date and time in range; a target from 0 to 5; an existing source file. All errors of all
// lines are collected.
Manifest ParseManifest(const std::string& text, const std::string& folder, int codePage);

// "line N: text", as the manifest's errors are given.
std::string LineError(int line, const std::string& text);

}  // namespace quentaro::pack
