// quentaro-crc FILE: one pass of the package's CRC-16/X-25 register over FILE, read in 64 KiB blocks,
// without progress. Prints the register (a sealed package ends at f0b8) and the byte count. The
// end-to-end benchmark times it as the native cost of checking the bytes.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/crc16.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quentaro-crc FILE\n");
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<std::uint8_t> block(64 * 1024);
    std::uint16_t r = quentaro::kCrc16Initial;
    std::uint64_t total = 0;
    for (;;) {
        const std::size_t read = std::fread(block.data(), 1, block.size(), file);
        r = quentaro::Crc16Update(r, block.data(), read);
        total += read;
        if (read < block.size()) break;
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        std::fprintf(stderr, "%s: read error\n", argv[1]);
        return 1;
    }
    std::printf("%04x %" PRIu64 "\n", static_cast<unsigned>(r), total);
    return 0;
}
