#include "hollowkit/imaging/color_lut.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <optional>

#include "hollowkit/base/utf8.h"
#include "hollowkit/imaging/lut_file.h"

namespace hollowkit {

namespace {

// A table of 256 points per axis is about 400 MB of ".cube" text; anything
// larger cannot be a table we accept.
constexpr size_t kMaxCubeFileBytes = size_t{512} << 20;
constexpr int64_t kMaxEntries = int64_t{ColorLUT::kMaxDimension} * ColorLUT::kMaxDimension *
                                ColorLUT::kMaxDimension;

// Length of the newline character at `i`, or 0: LF, VT, FF, CR, and the
// UTF-8 forms of U+0085, U+2028 and U+2029.
size_t newlineLength(std::string_view text, size_t i) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (c == '\n' || c == '\v' || c == '\f' || c == '\r') return 1;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<uint8_t>(text[i + 1]) == 0x85) return 2;
    if (c == 0xE2 && i + 2 < text.size() && static_cast<uint8_t>(text[i + 1]) == 0x80) {
        const auto c2 = static_cast<uint8_t>(text[i + 2]);
        if (c2 == 0xA8 || c2 == 0xA9) return 3;
    }
    return 0;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Calls `piece` for each run of characters between separators.
template <typename IsSeparator, typename Piece>
void forEachPiece(std::string_view s, IsSeparator isSeparator, Piece piece) {
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && isSeparator(s[i])) ++i;
        const size_t start = i;
        while (i < s.size() && !isSeparator(s[i])) ++i;
        if (i > start) piece(s.substr(start, i - start));
    }
}

// An optional sign and at least one digit, nothing else. Values beyond any
// usable size saturate, so "LUT_3D_SIZE 99999999999999999999" is refused like
// any other oversized table instead of wrapping.
std::optional<int64_t> parseSizeValue(std::string_view s) {
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;
    int64_t value = 0;
    constexpr int64_t kSaturated = int64_t{1} << 40;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        if (value < kSaturated) value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

// A 32-bit float in the C locale's form (the program's locale must not change
// how a file reads). A leading "+" is accepted as well.
std::optional<float> parseFloat(std::string_view s) {
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (!s.empty() && s.front() == '-') return std::nullopt;
    }
    if (s.empty()) return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (end != s.data() + s.size()) return std::nullopt;
    // A number beyond double range still reads as a number, but as one that
    // is refused later with the other non-finite values.
    if (ec == std::errc::result_out_of_range) return std::numeric_limits<float>::quiet_NaN();
    if (ec != std::errc()) return std::nullopt;
    if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
        return std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(value);
}

bool startsEntry(char c) { return (c >= '0' && c <= '9') || c == '-' || c == '.'; }

// The line's first run of non-blank characters.
std::string_view firstWord(std::string_view line) {
    size_t end = 0;
    while (end < line.size() && !isBlank(line[end])) ++end;
    return line.substr(0, end);
}

// Exactly `count` (at most 3) finite numbers and nothing else, or nothing.
std::optional<std::array<float, 3>> keywordValues(std::string_view rest, int count) {
    std::array<float, 3> values{};
    int found = 0;
    bool ok = true;
    forEachPiece(rest, isBlank, [&](std::string_view piece) {
        const auto value = parseFloat(piece);
        if (!value || !std::isfinite(*value) || found >= count) {
            ok = false;
            return;
        }
        values[static_cast<size_t>(found++)] = *value;
    });
    if (!ok || found != count) return std::nullopt;
    return values;
}

}  // namespace

ColorLUT::LoadError ColorLUT::LoadError::wrongEntryCount(int64_t expected, int64_t found) {
    return {.kind = Kind::wrongEntryCount, .expected = expected, .found = found};
}

ColorLUT::LoadError ColorLUT::LoadError::unsupportedImageLayout(int64_t width, int64_t height) {
    return {.kind = Kind::unsupportedImageLayout, .width = width, .height = height};
}

ColorLUT::LoadError ColorLUT::LoadError::unreadable() { return {.kind = Kind::unreadable}; }

ColorLUT::LoadError ColorLUT::LoadError::missingSize() { return {.kind = Kind::missingSize}; }

ColorLUT::LoadError ColorLUT::LoadError::malformedKeyword(std::string keyword, int64_t count) {
    return {.kind = Kind::malformedKeyword, .expected = count, .keyword = std::move(keyword)};
}

ColorLUT::LoadError ColorLUT::LoadError::emptyDomain() { return {.kind = Kind::emptyDomain}; }

ColorLUT::LoadError ColorLUT::LoadError::oneDimensional() { return {.kind = Kind::oneDimensional}; }

std::string ColorLUT::LoadError::userMessage() const {
    char text[128];
    switch (kind) {
        case Kind::wrongEntryCount:
            std::snprintf(text, sizeof text, "Expected %lld LUT entries, found %lld",
                          static_cast<long long>(expected), static_cast<long long>(found));
            return text;
        case Kind::unsupportedImageLayout:
            std::snprintf(text, sizeof text, "Unsupported PNG LUT layout %lldx%lld",
                          static_cast<long long>(width), static_cast<long long>(height));
            return text;
        case Kind::unreadable:
            return "The LUT file could not be read";
        case Kind::missingSize:
            return "The .cube file has no LUT_3D_SIZE line";
        case Kind::malformedKeyword:
            std::snprintf(text, sizeof text, "The .cube file's %.40s line must hold %lld finite numbers",
                          keyword.c_str(), static_cast<long long>(expected));
            return text;
        case Kind::emptyDomain:
            return "The .cube file's input range is empty: each minimum must be below its maximum";
        case Kind::oneDimensional:
            return "1D LUTs (LUT_1D_SIZE) are not supported: use a 3D .cube file";
        case Kind::none:
            break;
    }
    return {};
}

bool ColorLUT::hasUsableDomain() const {
    for (size_t axis = 0; axis < 3; ++axis) {
        const float lo = domainMin[axis];
        const float hi = domainMax[axis];
        if (!std::isfinite(lo) || !std::isfinite(hi) || !(lo < hi)) return false;
    }
    return true;
}

Result<ColorLUT, ColorLUT::LoadError> ColorLUT::load(const std::string& path) {
    std::string extension(lutfile::extension(path));
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return extension == "cube" ? readCubeFile(path) : readImageFile(path);
}

Result<ColorLUT, ColorLUT::LoadError> ColorLUT::readCubeFile(const std::string& path) {
    auto bytes = lutfile::readWholeFile(path, kMaxCubeFileBytes);
    if (!bytes) return unexpected(LoadError::unreadable());
    std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    if (!isValidUtf8(text)) return unexpected(LoadError::unreadable());
    return parseCube(text, path, lutfile::nameOf(path));
}

Result<ColorLUT, ColorLUT::LoadError> ColorLUT::parseCube(std::string_view text, std::string id,
                                                          std::string name) {
    std::optional<int64_t> size;
    // Entries beyond the largest table we accept are only counted: the count
    // is all the error needs, and memory stays bounded by the limit.
    std::vector<float> entries;
    int64_t found = 0;
    // The input range: DOMAIN_MIN / DOMAIN_MAX per axis, or Resolve's
    // LUT_3D_INPUT_RANGE for all three; a later line replaces an earlier one.
    std::array<float, 3> domainMin{0.0f, 0.0f, 0.0f};
    std::array<float, 3> domainMax{1.0f, 1.0f, 1.0f};
    std::optional<LoadError> keywordError;  // the first malformed one
    bool oneDimensional = false;

    auto handleKeyword = [&](std::string_view keyword, std::string_view rest) {
        const int count = keyword == "LUT_3D_INPUT_RANGE" ? 2 : 3;
        const auto values = keywordValues(rest, count);
        if (!values) {
            if (!keywordError) keywordError = LoadError::malformedKeyword(std::string(keyword), count);
            return;
        }
        if (keyword == "DOMAIN_MIN") {
            domainMin = *values;
        } else if (keyword == "DOMAIN_MAX") {
            domainMax = *values;
        } else {
            domainMin.fill((*values)[0]);
            domainMax.fill((*values)[1]);
        }
    };

    auto handleLine = [&](std::string_view rawLine) {
        const std::string_view line = trimBlanks(rawLine);
        if (line.empty() || line.front() == '#') return;
        // Reading the grid as 0...1 when the file says otherwise gives a
        // plainly wrong picture, so a range that cannot be used refuses the
        // file. A 1D table (alone or as a shaper before the cube) cannot be
        // expressed as a cube here and is refused too.
        const std::string_view keyword = firstWord(line);
        if (keyword == "LUT_1D_SIZE") {
            oneDimensional = true;
            return;
        }
        if (keyword == "DOMAIN_MIN" || keyword == "DOMAIN_MAX" || keyword == "LUT_3D_INPUT_RANGE") {
            handleKeyword(keyword, line.substr(keyword.size()));
            return;
        }
        if (line.starts_with("LUT_3D_SIZE")) {
            std::string_view last;
            forEachPiece(line, [](char c) { return c == ' '; },
                         [&](std::string_view piece) { last = piece; });
            size = parseSizeValue(last);
            return;
        }
        std::array<float, 3> values{};
        int count = 0;
        forEachPiece(line, isBlank, [&](std::string_view piece) {
            if (const auto value = parseFloat(piece)) {
                if (count < 3) values[static_cast<size_t>(count)] = *value;
                ++count;
            }
        });
        if (count != 3 || !startsEntry(line.front())) return;
        // A NaN or infinite entry would poison every pixel near it; the line
        // is dropped, so the entry count no longer matches and the file is
        // refused.
        for (float v : values) {
            if (!std::isfinite(v)) return;
        }
        if (found < kMaxEntries) {
            entries.insert(entries.end(), {values[0], values[1], values[2], 1.0f});
        }
        ++found;
    };

    size_t start = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t newline = newlineLength(text, i);
        if (newline == 0) {
            ++i;
            continue;
        }
        if (i > start) handleLine(text.substr(start, i - start));
        i += newline;
        start = i;
    }
    if (start < text.size()) handleLine(text.substr(start));

    if (oneDimensional) return unexpected(LoadError::oneDimensional());
    if (keywordError) return unexpected(*keywordError);

    // A size that cannot make a table (0, 1, negative, beyond the limit) is
    // treated like a size that is not a number: there is no usable size line.
    if (!size || *size < kMinDimension || *size > kMaxDimension) {
        return unexpected(LoadError::missingSize());
    }
    const int64_t expected = *size * *size * *size;
    if (found != expected) return unexpected(LoadError::wrongEntryCount(expected, found));

    ColorLUT lut;
    lut.domainMin = domainMin;
    lut.domainMax = domainMax;
    if (!lut.hasUsableDomain()) return unexpected(LoadError::emptyDomain());
    lut.id = std::move(id);
    lut.name = std::move(name);
    lut.dimension = static_cast<int>(*size);
    lut.rgba = std::move(entries);
    return lut;
}

}  // namespace hollowkit
