#include "core/crc16.h"

namespace quentaro {

std::uint16_t Crc16Update(std::uint16_t r, const std::uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) r = Crc16Update(r, data[i]);
    return r;
}

std::uint16_t Crc16X25(const std::uint8_t* data, std::size_t count) {
    return static_cast<std::uint16_t>(~Crc16Update(kCrc16Initial, data, count));
}

}  // namespace quentaro
