#pragma once

// Internal to the imaging library: the file-system side of the look readers
// (reading a whole file with a size cap, the id and name rules for a path).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "hollowkit/base/bytes.h"

namespace hollowkit::lutfile {

// The whole file, or nothing when it cannot be opened or read, is not a
// regular file, or is larger than `maxBytes`.
std::optional<Bytes> readWholeFile(const std::string& path, size_t maxBytes);

// The extension of the path's last component (without the dot), as written.
std::string_view extension(std::string_view path);

// The path's last component without its extension.
std::string nameOf(std::string_view path);

}  // namespace hollowkit::lutfile
