#pragma once

// UTF-8 checks for text that comes from outside: tool output, camera
// payloads, look files. Pure functions, any thread.

#include <string>
#include <string_view>

namespace hollowkit {

// True when `text` is well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF, no truncated sequences.
bool isValidUtf8(std::string_view text);

// `text` made safe to write as one log line: C0 controls and DEL become
// \n, \r, \t or \xNN, C1 controls and U+2028/U+2029 become \uNNNN, and each
// byte outside well-formed UTF-8 becomes \xNN. Everything else is kept,
// backslashes included; escaping twice changes nothing more.
std::string escapeForLog(std::string_view text);

// `text` (valid UTF-8) without leading and trailing white space and line
// ends, Unicode spaces (U+00A0, U+2028 ...) included.
std::string_view trimWhitespace(std::string_view text);

}  // namespace hollowkit
