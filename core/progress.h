// Progress arithmetic of the install page's bar.
#pragma once

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

// The steps of CheckProgress(done, length) as `done` runs from 1 to `length` (length > 0): where
// the value changes next, so that the bytes in between need no arithmetic of their own.
class CheckProgressSteps {
public:
    explicit CheckProgressSteps(std::uint64_t length) : m_length(length), m_next(Threshold(1)) {}

    // The least count of bytes after which the value is above the one last reached (the value
    // before the first byte counts as 0); the largest 64-bit value once 50 has been reached.
    std::uint64_t Next() const { return m_next; }

    // The value after `done` bytes; Next() moves past `done`.
    std::int32_t Reach(std::uint64_t done) {
        const std::int32_t value = CheckProgress(done, m_length);
        m_next = value >= 50 ? ~std::uint64_t{0} : Threshold(value + 1);
        return value;
    }

private:
    // The least count d with floor(50 * d / length) >= value: ceil(value * length / 50), formed
    // without a product that can overflow.
    std::uint64_t Threshold(std::int32_t value) const {
        const std::uint64_t v = static_cast<std::uint64_t>(value);
        return m_length / 50 * v + (m_length % 50 * v + 49) / 50;
    }

    std::uint64_t m_length;
    std::uint64_t m_next;
};

// The value after `done` bytes have been written, `total` of them to the destination folder:
// 50 + floor(50 * done / total), never above 100 (bytes written to the system folder are not part
// of the total).
inline std::int32_t ExtractionProgress(std::uint64_t done, std::uint64_t total) {
    const std::uint64_t share = ScaledShare(done, total, 50);
    return static_cast<std::int32_t>(share >= 50 ? 100 : 50 + share);
}

}  // namespace quentaro
