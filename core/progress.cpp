#include "core/progress.h"

#include <limits>

namespace quentaro {

std::uint64_t ScaledShare(std::uint64_t done, std::uint64_t total, std::uint32_t scale) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t whole = done / total;
    const std::uint64_t rest = done % total;
    if (scale != 0 && whole > kMax / scale) return kMax;
    // floor(scale * rest / total) with rest < total: the result is below scale.
    std::uint64_t part = 0;
    if (scale == 0 || rest <= kMax / scale) {
        part = rest * scale / total;
    } else {
        // Long division of the product, one bit of `scale` at a time: remainder < total throughout.
        std::uint64_t remainder = 0;
        for (int bit = 31; bit >= 0; --bit) {
            // remainder = 2 * remainder (mod total), quotient bit carried into part.
            part <<= 1;
            const bool carry = remainder >= total - remainder;
            remainder = carry ? remainder - (total - remainder) : remainder * 2;
            if (carry) ++part;
            if ((scale >> bit) & 1u) {
                const bool over = remainder >= total - rest;
                remainder = over ? remainder - (total - rest) : remainder + rest;
                if (over) ++part;
            }
        }
    }
    const std::uint64_t scaled = whole * scale;
    return scaled > kMax - part ? kMax : scaled + part;
}

}  // namespace quentaro
