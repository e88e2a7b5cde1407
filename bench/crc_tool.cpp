// quentaro-crc FILE: one pass of the package's CRC-16/X-25 register over FILE, read in 64 KiB blocks,
// without progress. Prints the register (a sealed package ends at f0b8) and the byte count. The
// end-to-end benchmark times it as the native cost of checking the bytes.
//
// quentaro-crc --speed MIB [RUNS]: the register over MIB MiB held in memory, RUNS times (5 unless
// given); prints each run's throughput and their median in GB/s (10^9 bytes per second). Built
// natively and in the cross builds (quentaro-crc.exe), so that the 32-bit program's check value can
// be timed under Wine.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/crc16.h"

namespace {

int Speed(long mib, long runs) {
    if (mib <= 0 || runs <= 0) {
        std::fprintf(stderr, "usage: quentaro-crc --speed MIB [RUNS]\n");
        return 2;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(mib) * 1024 * 1024);
    std::uint32_t x = 0x9E3779B9u;  // any bytes will do; these are not all alike
    for (std::uint8_t& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    std::vector<double> rates;
    std::uint16_t r = 0;
    for (long run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        r = quentaro::Crc16Update(quentaro::kCrc16Initial, bytes.data(), bytes.size());
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        rates.push_back(static_cast<double>(bytes.size()) / took.count() / 1e9);
        std::printf("run %ld: %.3f GB/s\n", run + 1, rates.back());
    }
    std::sort(rates.begin(), rates.end());
    std::printf("register %04x over %ld MiB; median %.3f GB/s\n", static_cast<unsigned>(r), mib,
                rates[rates.size() / 2]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && argc <= 4 && std::strcmp(argv[1], "--speed") == 0)
        return Speed(std::strtol(argv[2], nullptr, 10), argc == 4 ? std::strtol(argv[3], nullptr, 10) : 5);
    if (argc != 2) {
        std::fprintf(stderr, "usage: quentaro-crc FILE | quentaro-crc --speed MIB [RUNS]\n");
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
