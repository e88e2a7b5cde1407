#include "core/text.h"

#include <cmath>
#include <limits>

namespace quentaro {
namespace {

constexpr uint64_t kBytesPerMegabyte = 1048576;  // 2^20
constexpr uint64_t kHalfMegabyte = kBytesPerMegabyte / 2;

void AppendDecimal(std::u16string& text, uint64_t value) {
    char16_t digits[20];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count != 0) text += digits[--count];
}

void AppendDecimal(std::u16string& text, int32_t value) {
    if (value < 0) text += u'-';
    const int64_t wide = value;
    AppendDecimal(text, static_cast<uint64_t>(wide < 0 ? -wide : wide));
}

// Truncation toward zero, kept inside the range of the result instead of overflowing.
int32_t TruncateToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

}  // namespace

const std::u16string_view kFreeSpaceUnknown = u"空き容量:";

std::u16string FormatMegabytes(uint64_t bytes) {
    // bytes / 1048576.0 divides a double by a power of two, which is exact; the only rounding is
    // the conversion of the count to double (above 2^53 bytes). That double is an integer, so
    // the quotient is exactly wholeMegabytes + remainder / 2^20.
    const double asDouble = static_cast<double>(bytes);
    uint64_t whole = 0;
    uint64_t remainder = 0;
    if (asDouble >= 18446744073709551616.0) {  // 2^64: exactly 2^44 megabytes
        whole = uint64_t{1} << 44;
    } else {
        const uint64_t exact = static_cast<uint64_t>(asDouble);
        whole = exact / kBytesPerMegabyte;
        remainder = exact % kBytesPerMegabyte;
    }
    const uint64_t scaled = remainder * 10;  // below 10 × 2^20
    uint64_t tenth = scaled / kBytesPerMegabyte;
    const uint64_t rest = scaled % kBytesPerMegabyte;
    if (rest > kHalfMegabyte || (rest == kHalfMegabyte && tenth % 2 != 0)) ++tenth;
    if (tenth == 10) {
        tenth = 0;
        ++whole;
    }
    std::u16string text;
    AppendDecimal(text, whole);
    text += u'.';
    text += static_cast<char16_t>(u'0' + tenth);
    return text;
}

std::u16string FormatNeededSpace(uint32_t packageBytes) {
    return u"必要容量: " + FormatMegabytes(packageBytes) + u" MB";
}

std::u16string FormatFreeSpace(uint64_t totalFreeBytes) {
    return u"空き容量: " + FormatMegabytes(totalFreeBytes) + u" MB";
}

std::u16string FreeSpaceText(std::u16string_view destinationFolder,
                             const TotalFreeBytesQuery& totalFreeBytes) {
    if (destinationFolder.find(u':') != 1) return std::u16string(kFreeSpaceUnknown);
    const std::u16string root = std::u16string(destinationFolder.substr(0, 2)) + u'\\';
    const std::optional<uint64_t> freeBytes = totalFreeBytes ? totalFreeBytes(root) : std::nullopt;
    if (!freeBytes) return std::u16string(kFreeSpaceUnknown);
    return FormatFreeSpace(*freeBytes);
}

double ProgressFraction(int32_t position, int32_t lower, int32_t upper) {
    return static_cast<double>(int64_t{position} - lower) / static_cast<double>(int64_t{upper} - lower);
}

int32_t ProgressFilledWidth(double fraction, int32_t width) {
    return TruncateToInt32(fraction * static_cast<double>(width));
}

std::u16string ProgressPercentText(double fraction) {
    std::u16string text;
    AppendDecimal(text, TruncateToInt32(fraction * 100.0));
    text += u'%';
    return text;
}

}  // namespace quentaro
