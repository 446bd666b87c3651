#pragma once

// UTF-8 checks for text that comes from outside: tool output, camera
// payloads, look files. Pure functions, any thread.

#include <string_view>

namespace hollowkit {

// True when `text` is well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF, no truncated sequences.
bool isValidUtf8(std::string_view text);

// `text` (valid UTF-8) without leading and trailing white space and line
// ends, Unicode spaces (U+00A0, U+2028 ...) included.
std::string_view trimWhitespace(std::string_view text);

}  // namespace hollowkit
