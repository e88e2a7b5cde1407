// Progress arithmetic of the install page's bar.
#ifndef QUENTARO_CORE_PROGRESS_H
#define QUENTARO_CORE_PROGRESS_H

#include <cstdint>

namespace quentaro {

// floor(scale * done / total) for total > 0, exact for all 64-bit values (saturating at 2^64 - 1),
// without forming a product that can overflow.
std::uint64_t ScaledShare(std::uint64_t done, std::uint64_t total, std::uint32_t scale);

// The value after `done` of `total` package bytes have been checked: floor(50 * done / total).
inline std::int32_t CheckProgress(std::uint64_t done, std::uint64_t total) {
    const std::uint64_t share = ScaledShare(done, total, 50);
    return static_cast<std::int32_t>(share > 50 ? 50 : share);
}

// The value after `done` bytes have been written, `total` of them to the destination folder:
// 50 + floor(50 * done / total), never above 100 (bytes written to the system folder are not part
// of the total).
inline std::int32_t ExtractionProgress(std::uint64_t done, std::uint64_t total) {
    const std::uint64_t share = ScaledShare(done, total, 50);
    return static_cast<std::int32_t>(share >= 50 ? 100 : 50 + share);
}

}  // namespace quentaro

#endif  // QUENTARO_CORE_PROGRESS_H
