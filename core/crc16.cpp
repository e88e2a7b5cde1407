#include "core/crc16.h"

#include <array>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#include <wmmintrin.h>
#define QUENTARO_CRC16_CLMUL 1
#else
#define QUENTARO_CRC16_CLMUL 0
#endif

namespace quentaro {

namespace {

// Slice-by-8: kSliceTables[k][v] is the register after byte v followed by k zero bytes, from 0.
using SliceTables = std::array<std::array<std::uint16_t, 256>, 8>;

constexpr SliceTables MakeSliceTables() {
    SliceTables tables{};
    tables[0] = kCrc16Table;
    for (std::size_t k = 1; k < tables.size(); ++k) {
        for (std::size_t v = 0; v < 256; ++v) {
            const std::uint16_t previous = tables[k - 1][v];
            tables[k][v] = static_cast<std::uint16_t>(kCrc16Table[previous & 0xFFu] ^ (previous >> 8));
        }
    }
    return tables;
}

constexpr SliceTables kSliceTables = MakeSliceTables();
static_assert(kSliceTables[1][1] == static_cast<std::uint16_t>(kCrc16Table[0x89] ^ 0x11));

std::uint16_t BytewiseUpdate(std::uint16_t r, const std::uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) r = Crc16Update(r, data[i]);
    return r;
}

std::uint16_t SlicedUpdate(std::uint16_t r, const std::uint8_t* data, std::size_t count) {
    const SliceTables& t = kSliceTables;
    for (; count >= 8; data += 8, count -= 8) {
        const unsigned low = (data[0] ^ r) & 0xFFu;
        const unsigned high = (data[1] ^ (r >> 8)) & 0xFFu;
        r = static_cast<std::uint16_t>(t[7][low] ^ t[6][high] ^ t[5][data[2]] ^ t[4][data[3]] ^
                                       t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]]);
    }
    return BytewiseUpdate(r, data, count);
}

#if QUENTARO_CRC16_CLMUL

// x^n mod P in the register's own (reflected) form: bit 15 is x^0, bit 0 is x^15. Multiplying by x
// is one step of the register with a zero input bit.
constexpr std::uint16_t PowerOfXModP(unsigned n) {
    std::uint32_t r = 0x8000u;
    for (unsigned i = 0; i < n; ++i) r = (r & 1u) != 0 ? (r >> 1) ^ 0x8408u : r >> 1;
    return static_cast<std::uint16_t>(r);
}
static_assert(PowerOfXModP(15) == 0x0001 && PowerOfXModP(16) == 0x8408);

// Folding. An xmm register loaded from 16 bytes of the message holds a 128-bit polynomial with the
// first bit (bit 0 of the first byte) as its highest coefficient. To move it D bits forward, over
// the data that follows, each 64-bit half is multiplied carry-less by x^(its offset + D) mod P. The
// 16-bit constant sits in the low bits of a reflected 64-bit lane, which stands for K * x^48, and a
// reflected carry-less product comes out shifted by one more power of x; so the low (first) half
// uses x^(D + 64 - 49) and the high half x^(D - 49). The products have fewer than 80 bits and stay
// inside the register; they are only reduced at the very end, by the table.
struct FoldConstants {
    std::uint16_t first;
    std::uint16_t second;
};

constexpr FoldConstants FoldBy(unsigned bits) {
    return {PowerOfXModP(bits + 64 - 49), PowerOfXModP(bits - 49)};
}

constexpr FoldConstants kFold128 = FoldBy(128);
constexpr FoldConstants kFold512 = FoldBy(512);

#define QUENTARO_CLMUL_TARGET __attribute__((target("pclmul,sse2")))

QUENTARO_CLMUL_TARGET inline __m128i Constants(FoldConstants k) {
    return _mm_set_epi32(0, k.second, 0, k.first);
}

QUENTARO_CLMUL_TARGET inline __m128i Load(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// x moved forward by the distance of k, plus the next 16 bytes.
QUENTARO_CLMUL_TARGET inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)),
                         next);
}

// Runs the register over `count` bytes, a multiple of 16 and at least 16. Only unaligned loads and
// stores, and the stack is realigned on entry: a 32-bit Windows thread may enter with a stack that is
// only 4-byte aligned, and the compiler may spill xmm registers with aligned moves.
__attribute__((noinline, force_align_arg_pointer)) QUENTARO_CLMUL_TARGET std::uint16_t ClmulBlocks(
    std::uint16_t r, const std::uint8_t* data, std::size_t count) {
    // The incoming register enters as the first two bytes of the message, XORed in.
    const __m128i initial = _mm_cvtsi32_si128(static_cast<int>(r));
    const __m128i fold128 = Constants(kFold128);
    __m128i x;
    if (count >= 64) {
        const __m128i fold512 = Constants(kFold512);
        __m128i x0 = _mm_xor_si128(Load(data), initial);
        __m128i x1 = Load(data + 16);
        __m128i x2 = Load(data + 32);
        __m128i x3 = Load(data + 48);
        data += 64;
        count -= 64;
        for (; count >= 64; data += 64, count -= 64) {
            x0 = Fold(x0, fold512, Load(data));
            x1 = Fold(x1, fold512, Load(data + 16));
            x2 = Fold(x2, fold512, Load(data + 32));
            x3 = Fold(x3, fold512, Load(data + 48));
        }
        x = Fold(Fold(Fold(x0, fold128, x1), fold128, x2), fold128, x3);
    } else {
        x = _mm_xor_si128(Load(data), initial);
        data += 16;
        count -= 16;
    }
    for (; count >= 16; data += 16, count -= 16) x = Fold(x, fold128, Load(data));
    // The folded register is congruent to the whole message; its 16 bytes from register 0 give the
    // same register as the message did.
    std::uint8_t folded[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(folded), x);
    return BytewiseUpdate(0, folded, sizeof folded);
}

bool DetectClmul() {
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    // __get_cpuid also finds out whether the processor has CPUID at all.
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    const bool sse2 = (edx & (1u << 26)) != 0;
    const bool pclmulqdq = (ecx & (1u << 1)) != 0;
    return sse2 && pclmulqdq;
}

#endif  // QUENTARO_CRC16_CLMUL

}  // namespace

namespace detail {

bool Crc16ClmulAvailable() {
#if QUENTARO_CRC16_CLMUL
    static const bool available = DetectClmul();
    return available;
#else
    return false;
#endif
}

std::uint16_t Crc16UpdateWith(Crc16Method method, std::uint16_t r, const std::uint8_t* data,
                              std::size_t count) {
#if QUENTARO_CRC16_CLMUL
    if (method == Crc16Method::kClmul && count >= 16 && Crc16ClmulAvailable()) {
        const std::size_t blocks = count & ~static_cast<std::size_t>(15);
        r = ClmulBlocks(r, data, blocks);
        return BytewiseUpdate(r, data + blocks, count - blocks);
    }
#else
    static_cast<void>(method);
#endif
    return SlicedUpdate(r, data, count);
}

}  // namespace detail

std::uint16_t Crc16Update(std::uint16_t r, const std::uint8_t* data, std::size_t count) {
    return detail::Crc16UpdateWith(detail::Crc16Method::kClmul, r, data, count);
}

std::uint16_t Crc16X25(const std::uint8_t* data, std::size_t count) {
    return static_cast<std::uint16_t>(~Crc16Update(kCrc16Initial, data, count));
}

}  // namespace quentaro
