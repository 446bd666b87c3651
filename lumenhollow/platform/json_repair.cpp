#include "lumenhollow/platform/json_repair.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <system_error>

#include "hollowkit/base/log_excerpt.h"

namespace lumenhollow {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isNumberChar(char c) {
    return isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// The power of ten of a number's leading digit (1e400: 400; 0.05: -2), with
// the exponent saturated so a thousand-digit exponent cannot overflow.
// INT64_MIN for zero.
int64_t decimalMagnitude(std::string_view number) {
    constexpr int64_t kSaturation = 1'000'000'000;
    size_t i = number.starts_with('-') ? 1 : 0;
    const size_t integerStart = i;
    while (i < number.size() && isDigit(number[i])) ++i;
    const size_t integerEnd = i;
    int64_t magnitude = INT64_MIN;
    size_t firstNonZero = integerStart;
    while (firstNonZero < integerEnd && number[firstNonZero] == '0') ++firstNonZero;
    if (firstNonZero < integerEnd) {
        magnitude = static_cast<int64_t>(std::min<size_t>(integerEnd - firstNonZero, kSaturation)) - 1;
    }
    if (i < number.size() && number[i] == '.') {
        ++i;
        const size_t fractionStart = i;
        while (i < number.size() && isDigit(number[i])) {
            if (magnitude == INT64_MIN && number[i] != '0') {
                magnitude = -static_cast<int64_t>(std::min<size_t>(i - fractionStart, kSaturation)) - 1;
            }
            ++i;
        }
    }
    if (magnitude == INT64_MIN) return magnitude;
    if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
        ++i;
        const bool negative = i < number.size() && number[i] == '-';
        if (i < number.size() && (number[i] == '-' || number[i] == '+')) ++i;
        int64_t exponent = 0;
        for (; i < number.size() && isDigit(number[i]); ++i) {
            exponent = std::min(exponent * 10 + (number[i] - '0'), kSaturation);
        }
        magnitude += negative ? -exponent : exponent;
    }
    return magnitude;
}

// True for a number a double cannot hold because it is too large. A number
// too small reads as zero, as parsers take it, and is left alone; text that
// is not a number is left for the parser to refuse.
bool beyondDouble(std::string_view token) {
    double value = 0;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (error != std::errc::result_out_of_range) return false;
    (void)end;
    return decimalMagnitude(token) > 0;
}

// The length of the well-formed UTF-8 sequence at `text[i]`, or 0.
size_t utf8Length(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0; };
    const auto within = [](unsigned char b, unsigned char low, unsigned char high) { return b >= low && b <= high; };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    if (within(lead, 0xC2, 0xDF)) return within(byte(1), 0x80, 0xBF) ? 2 : 0;
    if (within(lead, 0xE0, 0xEF)) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
        return within(byte(1), low, high) && within(byte(2), 0x80, 0xBF) ? 3 : 0;
    }
    if (within(lead, 0xF0, 0xF4)) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
        return within(byte(1), low, high) && within(byte(2), 0x80, 0xBF) && within(byte(3), 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

class Repairer {
public:
    Repairer(std::string_view text, bool repairTexts) : in_(text), repairTexts_(repairTexts) {
        out_.text.reserve(text.size());
    }

    JsonRepair run() {
        for (size_t i = 0; i < in_.size();) i = inString_ ? stringByte(i) : structureByte(i);
        return std::move(out_);
    }

private:
    size_t stringByte(size_t i) {
        const char c = in_[i];
        if (escaped_) {
            escaped_ = false;
        } else if (c == '\\') {
            escaped_ = true;
        } else if (c == '"') {
            inString_ = false;
            if (keyStart_) {
                key_ = in_.substr(*keyStart_, i + 1 - *keyStart_);
                keyStart_.reset();
            }
        } else if (repairTexts_ && static_cast<unsigned char>(c) < 0x20) {
            return replace(i, 1, "?", JsonRepair::Kind::badText);
        } else if (static_cast<unsigned char>(c) >= 0x80) {
            const size_t length = utf8Length(in_, i);
            if (length == 0 && repairTexts_) return replace(i, 1, "?", JsonRepair::Kind::badText);
            const size_t take = std::max<size_t>(length, 1);
            out_.text.append(in_.substr(i, take));
            return i + take;
        }
        out_.text.push_back(c);
        return i + 1;
    }

    size_t structureByte(size_t i) {
        const char c = in_[i];
        switch (c) {
            case '"':
                inString_ = true;
                if (depth_ == 1 && expectKey_) keyStart_ = i;
                expectKey_ = false;
                break;
            case '{':
            case '[':
                if (++depth_ == 1) {
                    topIsObject_ = c == '{';
                    expectKey_ = topIsObject_;
                }
                out_.deepestNesting = std::max(out_.deepestNesting, depth_);
                break;
            case '}':
            case ']':
                --depth_;
                break;
            case ',':
                if (depth_ == 1) {
                    ++member_;
                    expectKey_ = topIsObject_;
                    key_ = {};
                }
                break;
            default:
                if (c == '-' || isDigit(c)) {
                    size_t end = i;
                    while (end < in_.size() && isNumberChar(in_[end])) ++end;
                    if (beyondDouble(in_.substr(i, end - i))) {
                        return replace(i, end - i, "null", JsonRepair::Kind::numberOutOfRange);
                    }
                    out_.text.append(in_.substr(i, end - i));
                    return end;
                }
                break;
        }
        out_.text.push_back(c);
        return i + 1;
    }

    // Writes `with` for the `length` bytes at `i` and notes the flaw.
    size_t replace(size_t i, size_t length, std::string_view with, JsonRepair::Kind kind) {
        const JsonRepair::Flaw flaw{kind, member_};
        if (out_.flaws.empty()) {
            const std::string replaced = hollowkit::logExcerpt(in_.substr(i, length));
            out_.firstExample = key_.empty() ? replaced : hollowkit::logExcerpt(key_) + ": " + replaced;
        }
        if (out_.flaws.empty() || out_.flaws.back() != flaw) out_.flaws.push_back(flaw);
        out_.text.append(with);
        return i + length;
    }

    const std::string_view in_;
    const bool repairTexts_;
    JsonRepair out_;
    bool inString_ = false;
    bool escaped_ = false;
    int depth_ = 0;
    bool topIsObject_ = false;
    bool expectKey_ = false;
    size_t member_ = 0;
    std::optional<size_t> keyStart_;
    std::string_view key_;  // the current top-level member's key, quotes included
};

}  // namespace

JsonRepair repairJson(std::string_view text, bool repairTexts) {
    return Repairer(text, repairTexts).run();
}

}  // namespace lumenhollow
