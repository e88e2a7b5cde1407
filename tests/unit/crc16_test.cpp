#include "core/crc16.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quentaro {
namespace {

// Bit by bit, straight from the definition: reflected polynomial 0x8408, no table.
std::uint16_t BitwiseRegister(std::uint16_t r, const std::vector<std::uint8_t>& data) {
    for (std::uint8_t b : data) {
        r = static_cast<std::uint16_t>(r ^ b);
        for (int i = 0; i < 8; ++i) r = (r & 1) != 0 ? static_cast<std::uint16_t>((r >> 1) ^ 0x8408) : r >> 1;
    }
    return r;
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(Crc16, TableHasTheStandardValues) {
    EXPECT_EQ(kCrc16Table[0], 0x0000);
    EXPECT_EQ(kCrc16Table[1], 0x1189);
    EXPECT_EQ(kCrc16Table[128], 0x8408);
    EXPECT_EQ(kCrc16Table[255], 0x0F78);
}

TEST(Crc16, StandardCheckValue) {
    const std::vector<std::uint8_t> data = Bytes("123456789");
    EXPECT_EQ(Crc16X25(data.data(), data.size()), 0x906E);
    EXPECT_EQ(Crc16X25(nullptr, 0), 0x0000);
}

TEST(Crc16, TableDrivenRegisterMatchesBitwiseDefinition) {
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 1024; ++i) data.push_back(static_cast<std::uint8_t>(i * 37 + (i >> 3)));
    EXPECT_EQ(Crc16Update(kCrc16Initial, data.data(), data.size()), BitwiseRegister(0xFFFF, data));
}

TEST(Crc16, DataFollowedByItsCheckValueLowByteFirstLeavesTheResidue) {
    const std::vector<std::vector<std::uint8_t>> cases = {
        {}, Bytes("123456789"), {0x00}, {0xFF, 0xFF}, std::vector<std::uint8_t>(1000, 0xA5)};
    for (std::vector<std::uint8_t> data : cases) {
        const std::uint16_t check = Crc16X25(data.data(), data.size());
        data.push_back(static_cast<std::uint8_t>(check & 0xFF));
        data.push_back(static_cast<std::uint8_t>(check >> 8));
        EXPECT_EQ(Crc16Update(kCrc16Initial, data.data(), data.size()), kCrc16Residue) << data.size();
    }
}

}  // namespace
}  // namespace quentaro
