#pragma once

// Text from outside (a file's contents, a parser's message quoting them)
// shortened for a log line, so a hundred-kilobyte number or name costs a
// line of ordinary length. Pure function, any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace hollowkit {

// Long enough to recognise a key, a path or a number, short enough that a
// line quoting two of them still reads as one line.
inline constexpr size_t kLogExcerptBytes = 64;

// `text` when it has at most `maxBytes` bytes; otherwise its first bytes,
// cut before a UTF-8 sequence that would not fit whole, then
// "… (<size> bytes)". PocketLog escapes what remains.
std::string logExcerpt(std::string_view text, size_t maxBytes = kLogExcerptBytes);

}  // namespace hollowkit
