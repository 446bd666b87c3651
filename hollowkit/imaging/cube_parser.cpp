#include "hollowkit/imaging/cube_parser.h"

#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace hollowkit::cube {

namespace {

constexpr int64_t kMaxEntries = int64_t{ColorLUT::kMaxDimension} * ColorLUT::kMaxDimension *
                                ColorLUT::kMaxDimension;
// Red, green, blue and alpha as 32-bit floats.
constexpr int64_t kBytesPerEntry = 4 * sizeof(float);
// Longer than any size a file writes; a longer one is shown cut.
constexpr size_t kMaxSizeTextBytes = 24;

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

// A number from_chars has matched whole but found beyond double range.
// libstdc++ leaves the value untouched whether the number is too large or too
// small to hold, so strtod (in the C locale) tells them apart: too small reads
// as 0 or the nearest subnormal, a finite number like any other; too large
// reads as infinity and is refused later with the other non-finite values.
double outOfDoubleRange(std::string_view s) {
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", locale_t{});
    if (cLocale == locale_t{}) return std::numeric_limits<double>::quiet_NaN();
    const std::string text(s);
    return ::strtod_l(text.c_str(), nullptr, cLocale);
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
    if (ec == std::errc::result_out_of_range) {
        value = outOfDoubleRange(s);
    } else if (ec != std::errc()) {
        return std::nullopt;
    }
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

std::optional<size_t> newlineLength(std::string_view text, size_t i, bool more) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (c == '\n' || c == '\v' || c == '\f' || c == '\r') return 1;
    if (c != 0xC2 && c != 0xE2) return 0;
    const size_t need = c == 0xC2 ? 2 : 3;
    if (i + need > text.size()) {
        // The character may end in the next chunk; at the end of the text it
        // is no newline.
        return more ? std::nullopt : std::optional<size_t>(0);
    }
    const auto c1 = static_cast<uint8_t>(text[i + 1]);
    if (c == 0xC2) return c1 == 0x85 ? 2 : 0;
    const auto c2 = static_cast<uint8_t>(text[i + 2]);
    return c1 == 0x80 && (c2 == 0xA8 || c2 == 0xA9) ? 3 : 0;
}

CubeParser::CubeParser(uint64_t textBytes, int64_t maxTableBytes)
    : textBytes_(textBytes),
      maxTableBytes_(maxTableBytes),
      keepLimit_(std::clamp<int64_t>(maxTableBytes / kBytesPerEntry, 0, kMaxEntries)) {}

std::optional<int64_t> CubeParser::declaredSize() const {
    if (!size_ || *size_ < ColorLUT::kMinDimension || *size_ > ColorLUT::kMaxDimension) return std::nullopt;
    return size_;
}

void CubeParser::keyword(std::string_view keyword, std::string_view rest) {
    const int count = keyword == "LUT_3D_INPUT_RANGE" ? 2 : 3;
    const auto values = keywordValues(rest, count);
    if (!values) {
        if (!keywordError_) keywordError_ = ColorLUT::LoadError::malformedKeyword(std::string(keyword), count);
        return;
    }
    if (keyword == "DOMAIN_MIN") {
        domainMin_ = *values;
    } else if (keyword == "DOMAIN_MAX") {
        domainMax_ = *values;
    } else {
        domainMin_.fill((*values)[0]);
        domainMax_.fill((*values)[1]);
    }
}

bool CubeParser::line(std::string_view rawLine) {
    using LoadError = ColorLUT::LoadError;
    if (refusal_) return false;
    const std::string_view text = trimBlanks(rawLine);
    if (text.empty() || text.front() == '#') return true;
    // Reading the grid as 0...1 when the file says otherwise gives a plainly
    // wrong picture, so a range that cannot be used refuses the file. A 1D
    // table (alone or as a shaper before the cube) cannot be expressed as a
    // cube here and is refused at once.
    const std::string_view word = firstWord(text);
    if (word == "LUT_1D_SIZE") {
        refusal_ = LoadError::oneDimensional();
        return false;
    }
    if (word == "DOMAIN_MIN" || word == "DOMAIN_MAX" || word == "LUT_3D_INPUT_RANGE") {
        keyword(word, text.substr(word.size()));
        return true;
    }
    if (text.starts_with("LUT_3D_SIZE")) {
        std::string_view last;
        forEachPiece(text, [](char c) { return c == ' '; }, [&](std::string_view piece) { last = piece; });
        size_ = parseSizeValue(last);
        sizeWritten_ = std::string(last.substr(0, kMaxSizeTextBytes));
        // A table over the memory allowed is refused here, before its
        // entries are read.
        if (const auto size = declaredSize(); size && *size * *size * *size * kBytesPerEntry > maxTableBytes_) {
            refusal_ = keywordError_ ? *keywordError_
                                     : LoadError::overBudget(*size * *size * *size * kBytesPerEntry, maxTableBytes_);
            return false;
        }
        return true;
    }
    std::array<float, 3> values{};
    int count = 0;
    forEachPiece(text, isBlank, [&](std::string_view piece) {
        if (const auto value = parseFloat(piece)) {
            if (count < 3) values[static_cast<size_t>(count)] = *value;
            ++count;
        }
    });
    if (count != 3 || !startsEntry(text.front())) return true;
    // A NaN or infinite entry would poison every pixel near it. A malformed
    // keyword seen earlier stays the reason given, as it would after a
    // whole read.
    for (float v : values) {
        if (!std::isfinite(v)) {
            refusal_ = keywordError_ ? *keywordError_ : LoadError::nonFiniteEntry(found_ + 1);
            return false;
        }
    }
    ++found_;
    // Counted but not kept once no table allowed could use it; the count is
    // still reported whole.
    if (found_ > keepLimit_) return true;
    if (entries_.empty()) {
        // "0 0 0" and a newline: no entry takes fewer bytes. Reserved for the
        // declared table, never for more than the text can hold.
        const uint64_t fits = textBytes_ / 6 + 1;
        const auto size = declaredSize();
        const int64_t table = size ? std::min(*size * *size * *size, keepLimit_) : 0;
        entries_.reserve(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(table), fits)) * 4);
    }
    entries_.insert(entries_.end(), {values[0], values[1], values[2], 1.0f});
    return true;
}

Result<ColorLUT, ColorLUT::LoadError> CubeParser::finish(std::string id, std::string name) {
    using LoadError = ColorLUT::LoadError;
    if (refusal_) return unexpected(*refusal_);
    if (keywordError_) return unexpected(*keywordError_);
    // A size that is not an integer leaves no size at all; an integer that
    // cannot make a table (0, 1, negative, beyond the limit) says so.
    if (!size_) return unexpected(LoadError::missingSize());
    const auto size = declaredSize();
    if (!size) return unexpected(LoadError::sizeOutOfRange(sizeWritten_));
    const int64_t expected = *size * *size * *size;
    if (found_ != expected) return unexpected(LoadError::wrongEntryCount(expected, found_));

    ColorLUT lut;
    lut.domainMin = domainMin_;
    lut.domainMax = domainMax_;
    if (!lut.hasUsableDomain()) return unexpected(LoadError::emptyDomain());
    lut.id = std::move(id);
    lut.name = std::move(name);
    lut.dimension = static_cast<int>(*size);
    lut.rgba = std::move(entries_);
    return lut;
}

}  // namespace hollowkit::cube
