// CRC-16/X-25 (the HDLC frame check sequence): reflected polynomial 0x1021 (0x8408), initial value
// 0xFFFF, result complemented. Running the register without the final complement over data followed by
// its check value, low byte first, ends at kCrc16Residue.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quentaro {

namespace detail {
constexpr std::array<std::uint16_t, 256> MakeCrc16Table() {
    std::array<std::uint16_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit) r = (r & 1u) != 0 ? (r >> 1) ^ 0x8408u : r >> 1;
        table[i] = static_cast<std::uint16_t>(r);
    }
    return table;
}
}  // namespace detail

inline constexpr std::array<std::uint16_t, 256> kCrc16Table = detail::MakeCrc16Table();
static_assert(kCrc16Table[0] == 0x0000 && kCrc16Table[1] == 0x1189 && kCrc16Table[128] == 0x8408 &&
              kCrc16Table[255] == 0x0F78);

inline constexpr std::uint16_t kCrc16Initial = 0xFFFF;
inline constexpr std::uint16_t kCrc16Residue = 0xF0B8;

// One step of the register.
inline std::uint16_t Crc16Update(std::uint16_t r, std::uint8_t b) {
    return static_cast<std::uint16_t>(kCrc16Table[(r ^ b) & 0xFFu] ^ (r >> 8));
}

// Runs the register over `count` bytes, without the final complement.
std::uint16_t Crc16Update(std::uint16_t r, const std::uint8_t* data, std::size_t count);

// The standard CRC-16/X-25 of `count` bytes: the check value that a package stores.
std::uint16_t Crc16X25(const std::uint8_t* data, std::size_t count);

namespace detail {
// How the register runs over a buffer. Crc16Update uses carry-less multiplication where the processor
// has it (x86 with PCLMULQDQ and SSE2, found out once at run time) and slice-by-8 tables elsewhere;
// tests pick either here. kClmul falls back to the tables on a processor without it.
enum class Crc16Method { kSliced, kClmul };
bool Crc16ClmulAvailable();
std::uint16_t Crc16UpdateWith(Crc16Method method, std::uint16_t r, const std::uint8_t* data,
                              std::size_t count);
}  // namespace detail

}  // namespace quentaro
