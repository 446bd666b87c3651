#pragma once

// Base64 (RFC 4648, standard alphabet, with padding) for bytes kept inside
// JSON text. Pure functions, any thread.

#include <optional>
#include <string>
#include <string_view>

#include "hollowkit/base/bytes.h"

namespace lumenhollow {

std::string base64Encode(hollowkit::ByteView bytes);

// Nothing unless `text` is whole groups of four alphabet characters, '='
// only as the last one or two, and no stray bits in the final group. No
// white space is accepted.
std::optional<hollowkit::Bytes> base64Decode(std::string_view text);

}  // namespace lumenhollow
