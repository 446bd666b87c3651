#pragma once

// The two forms of text inside DUML payloads. Length-prefixed text (one
// length byte, then UTF-8) carries network names, passwords and identifiers
// to the camera; ASCII reply text (a status byte, a length byte, then ASCII)
// comes back in the camera's answers. Pure functions, any thread. Writers
// refuse what a one-byte length cannot describe instead of wrapping it.

#include <optional>
#include <string>
#include <string_view>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/result.h"
#include "hollowkit/camera/duml_frame.h"

namespace hollowkit {

inline constexpr size_t kDumlMaxTextLength = 255;

// The byte count of `text` (UTF-8) as one byte, then the bytes. Fails with
// textTooLong beyond 255 bytes.
Result<Bytes, DumlError> lengthPrefixedString(std::string_view text);

// Reads one length-prefixed text at the reader's position. Nothing when the
// bytes run out or the text is not valid UTF-8; the reader is then failed or
// left past the text.
std::optional<std::string> readLengthPrefixedString(ByteReader& reader);

// The text of a reply payload: byte 0 is not part of it, byte 1 holds its
// length n, bytes 2 to n + 1 are ASCII; later bytes are ignored. Nothing when
// the payload is too short or a text byte lies outside ASCII.
std::optional<std::string> asciiString(ByteView payload);

// A reply payload in the form asciiString() reads: `status`, the length and
// the text. Fails with textNotAscii or textTooLong.
Result<Bytes, DumlError> asciiStringPayload(std::string_view text, uint8_t status = 0);

}  // namespace hollowkit
