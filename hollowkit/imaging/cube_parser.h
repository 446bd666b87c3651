#pragma once

// Internal to the imaging library: ".cube" text read one line at a time.
// The parser refuses a file at the first line that cannot belong to the table
// it declared (an entry beyond size³, a one-dimensional table), so memory never
// goes past the declared table and reading can stop there. One parser per
// file; not thread-safe.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/result.h"
#include "hollowkit/imaging/color_lut.h"

namespace hollowkit::cube {

// Length of the newline character at `i` in `text`, or 0: LF, VT, FF, CR, and
// the UTF-8 forms of U+0085, U+2028 and U+2029. `more` says whether bytes may
// follow `text` (a chunk of a longer file): then a possible start of a
// two- or three-byte newline at the very end answers std::nullopt, "not
// known yet".
std::optional<size_t> newlineLength(std::string_view text, size_t i, bool more);

// The most bytes a ".cube" file declaring `size` points per axis may take:
// each entry line generously long, plus room for a header and comments.
uint64_t maxFileBytesFor(int64_t size);

class CubeParser {
public:
    // `textBytes`: how long the whole text is (a file's stated size). The
    // entry list is reserved at the declared table's size, but never for
    // more entries than that text can hold, so a short file declaring a
    // large table costs no more than its text.
    explicit CubeParser(uint64_t textBytes) : textBytes_(textBytes) {}

    // One line without its newline. False once the file is refused (error()
    // says why); later lines are not looked at.
    bool line(std::string_view rawLine);

    // The usable size the file declares so far (2...256), or nothing.
    std::optional<int64_t> declaredSize() const;

    // The table, or why there is none, after the last line.
    Result<ColorLUT, ColorLUT::LoadError> finish(std::string id, std::string name);

    const std::optional<ColorLUT::LoadError>& error() const { return refusal_; }

private:
    void keyword(std::string_view keyword, std::string_view rest);

    const uint64_t textBytes_;
    std::optional<int64_t> size_;
    std::vector<float> entries_;
    int64_t found_ = 0;
    // The input range: DOMAIN_MIN / DOMAIN_MAX per axis, or Resolve's
    // LUT_3D_INPUT_RANGE for all three; a later line replaces an earlier one.
    std::array<float, 3> domainMin_{0.0f, 0.0f, 0.0f};
    std::array<float, 3> domainMax_{1.0f, 1.0f, 1.0f};
    std::optional<ColorLUT::LoadError> keywordError_;  // the first malformed one
    std::optional<ColorLUT::LoadError> refusal_;       // stops the reading
};

}  // namespace hollowkit::cube
