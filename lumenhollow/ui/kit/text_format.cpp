#include "lumenhollow/ui/kit/text_format.h"

#include <array>
#include <charconv>
#include <cmath>

namespace lumenhollow::ui {

std::string fixedDecimal(double value, int decimals) {
    if (!std::isfinite(value)) value = 0;
    std::array<char, 64> buffer{};
    auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, decimals);
    if (error != std::errc{}) return "0";
    std::string text(buffer.data(), end);
    // "-0.0" for a tiny negative reads as a fault; zero has no sign.
    if (text.starts_with('-') && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
    return text;
}

std::string cardGigabytes(int64_t megabytes) {
    if (megabytes < 0) megabytes = 0;
    return fixedDecimal(static_cast<double>(megabytes) * (1.0 / 1024.0), 1) + " GB";
}

std::string siByteCount(int64_t bytes) {
    if (bytes < 0) bytes = 0;
    if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static constexpr std::array<const char*, 6> kUnits{"kB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1000.0;
    size_t unit = 0;
    // Compare the rounded figure, so 999.96 GB reads "1.0 TB".
    while (unit + 1 < kUnits.size() && std::round(value * 10.0) >= 10000.0) {
        value /= 1000.0;
        ++unit;
    }
    return fixedDecimal(value, 1) + " " + kUnits[unit];
}

}  // namespace lumenhollow::ui
