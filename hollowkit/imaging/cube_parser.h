#pragma once

// Internal to the imaging library: ".cube" text read one line at a time.
// The parser refuses a file at the first line that can never belong to a
// table (a one-dimensional table, an entry that is not a finite number, a
// size whose table is over the memory allowed), so reading can stop there.
// Any other entry is counted, and kept while a table could still use it: a
// later size line replaces an earlier one, so the count is judged only at
// the end. The caller bounds the text's length by what the largest table
// can take. One parser per file; not thread-safe.

#include <array>
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

class CubeParser {
public:
    // `textBytes`: how long the whole text is (a file's stated size). The
    // entry list is reserved at the declared table's size, but never for
    // more entries than that text can hold, so a short file declaring a
    // large table costs no more than its text.
    // `maxTableBytes`: the most the table may take (16 bytes an entry).
    CubeParser(uint64_t textBytes, int64_t maxTableBytes);

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
    const int64_t maxTableBytes_;
    // Entries past this many are counted, not kept: no table allowed could use them.
    const int64_t keepLimit_;
    // The last size line's integer (saturated), as read and as written.
    std::optional<int64_t> size_;
    std::string sizeWritten_;
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
