// Texts that the pages compute: the space needed and free on the destination page, and the
// arithmetic of the percentage progress bar.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quentaro {

// A byte count in megabytes with one decimal, the way "%0.1f" prints bytes / 1048576.0: the double
// is rounded to the nearest tenth, an exact half to the even tenth (0.25 MB gives "0.2", 0.75 MB
// "0.8"). Computed from the exact value of the double, so the result is the same with every C
// library.
std::u16string FormatMegabytes(uint64_t bytes);

// "必要容量: 50.0 MB" for the length of the data package.
std::u16string FormatNeededSpace(uint32_t packageBytes);

// "空き容量: 1234.5 MB" for the total free bytes of a volume.
std::u16string FormatFreeSpace(uint64_t totalFreeBytes);

// The free-space text when nothing can be told: no folder, no drive, or the query failed.
extern const std::u16string_view kFreeSpaceUnknown;

// GetDiskFreeSpaceExW for a root such as C:\ : the total number of free bytes of the volume (its
// third result), or nothing when the call fails.
using TotalFreeBytesQuery = std::function<std::optional<uint64_t>(std::u16string_view root)>;

// The free-space text for the destination folder (already trimmed, see TrimmedLeadingWhiteSpace).
std::u16string FreeSpaceText(std::u16string_view destinationFolder,
                             const TotalFreeBytesQuery& totalFreeBytes);

// The progress bar's fraction (position - lower) / (upper - lower), in double precision.
double ProgressFraction(int32_t position, int32_t lower, int32_t upper);

// Pixels of a bar of the given width that the fraction fills: the product truncated toward zero.
int32_t ProgressFilledWidth(double fraction, int32_t width);

// "%d%%" of fraction × 100.0 truncated toward zero: position 29 of 0..100 shows "28%".
std::u16string ProgressPercentText(double fraction);

}  // namespace quentaro
