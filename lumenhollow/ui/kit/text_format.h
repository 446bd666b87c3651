#pragma once

// Locale-independent number texts for the read-outs. The process locale is
// the desktop's (Qt sets it at start), so printf-style formatting could print
// "1,5 GB"; these never do.

#include <cstdint>
#include <string>

namespace lumenhollow::ui {

// `value` with exactly `decimals` digits after the point, rounded to nearest.
std::string fixedDecimal(double value, int decimals);

// A megabyte count of the camera's card in binary gigabytes, "1.5 GB".
// Negative counts show as zero.
std::string cardGigabytes(int64_t megabytes);

// A byte count in SI units with one decimal, "245.8 GB"; below 1000 bytes,
// "512 bytes". A value that rounds up to 1000 moves to the next unit
// ("1.0 TB", never "1000.0 GB"). Negative counts show as zero.
std::string siByteCount(int64_t bytes);

}  // namespace lumenhollow::ui
