#include "core/crc16.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <ostream>
#include <random>
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

std::uint16_t BitwiseRegister(std::uint16_t r, const std::uint8_t* data, std::size_t count) {
    return BitwiseRegister(r, std::vector<std::uint8_t>(data, data + count));
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

// Every way the register can run over a buffer. The carry-less one needs PCLMULQDQ; where the
// processor lacks it, its cases are skipped and said so.
struct Method {
    const char* name;
    bool needsClmul;
    std::uint16_t (*update)(std::uint16_t, const std::uint8_t*, std::size_t);
};

void PrintTo(const Method& method, std::ostream* out) {
    *out << method.name;
}

const Method kMethods[] = {
    {"Crc16Update", false,
     [](std::uint16_t r, const std::uint8_t* d, std::size_t n) { return Crc16Update(r, d, n); }},
    {"slice-by-8", false,
     [](std::uint16_t r, const std::uint8_t* d, std::size_t n) {
         return detail::Crc16UpdateWith(detail::Crc16Method::kSliced, r, d, n);
     }},
    {"carry-less", true,
     [](std::uint16_t r, const std::uint8_t* d, std::size_t n) {
         return detail::Crc16UpdateWith(detail::Crc16Method::kClmul, r, d, n);
     }},
};

std::vector<std::uint8_t> Random(std::size_t size, std::mt19937& random) {
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random() >> 24);
    return bytes;
}

class Crc16Methods : public ::testing::TestWithParam<Method> {
protected:
    void SetUp() override {
        if (GetParam().needsClmul && !detail::Crc16ClmulAvailable()) GTEST_SKIP() << "no PCLMULQDQ here";
    }
};

TEST_P(Crc16Methods, StandardCheckValue) {
    const std::vector<std::uint8_t> data = Bytes("123456789");
    EXPECT_EQ(static_cast<std::uint16_t>(~GetParam().update(kCrc16Initial, data.data(), data.size())),
              0x906E);
}

// Every length from 0 to 300 at every address modulo 16, from several starting registers: the short
// paths, the 16-byte and 64-byte folds and every tail.
TEST_P(Crc16Methods, EveryLengthAtEveryAlignmentMatchesTheBitwiseRegister) {
    std::mt19937 random(16);
    const std::vector<std::uint8_t> bytes = Random(300 + 16, random);
    for (const std::uint16_t start : {std::uint16_t{0xFFFF}, std::uint16_t{0x0000}, std::uint16_t{0x5AC3}}) {
        for (std::size_t offset = 0; offset < 16; ++offset) {
            const std::uint8_t* data = bytes.data() + offset;
            for (std::size_t length = 0; length <= 300; ++length) {
                ASSERT_EQ(GetParam().update(start, data, length), BitwiseRegister(start, data, length))
                    << "start " << start << ", offset " << offset << ", length " << length;
            }
        }
    }
}

// A few MiB of random bytes, in pieces of random length with the register carried from one call to
// the next, end where one pass of the bitwise register ends.
TEST_P(Crc16Methods, RandomPiecesContinueTheRegister) {
    std::mt19937 random(2026);
    const std::vector<std::uint8_t> bytes = Random(3 * 1024 * 1024 + 77, random);
    const std::uint16_t expected = BitwiseRegister(kCrc16Initial, bytes);
    for (const std::size_t maxPiece : {std::size_t{100}, std::size_t{70000}, bytes.size()}) {
        std::uniform_int_distribution<std::size_t> piece(0, maxPiece);
        std::uint16_t r = kCrc16Initial;
        for (std::size_t done = 0; done < bytes.size();) {
            const std::size_t length = std::min(piece(random), bytes.size() - done);
            r = GetParam().update(r, bytes.data() + done, length);
            done += length;
        }
        EXPECT_EQ(r, expected) << "pieces up to " << maxPiece << " bytes";
    }
}

std::string TestName(const ::testing::TestParamInfo<Method>& param) {
    std::string name;
    for (const char* c = param.param.name; *c != 0; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c)) != 0) name += *c;
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(All, Crc16Methods, ::testing::ValuesIn(kMethods), TestName);

}  // namespace
}  // namespace quentaro
