#pragma once

// Internal to the imaging library: the file-system side of the look readers
// (reading within bounds, the id and name rules for a path).

#include <cstddef>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "hollowkit/base/bounded_file.h"
#include "hollowkit/base/bytes.h"
#include "hollowkit/base/result.h"
#include "hollowkit/imaging/color_lut.h"

namespace hollowkit::lutfile {

// A file that could not be opened or read is `unreadable`, as a missing look
// always was; one refused for what it is (not a regular file, too large, a
// path with a NUL) says so.
ColorLUT::LoadError loadError(const FileReadError& error);

// The whole file within `maxBytes`.
Result<Bytes, ColorLUT::LoadError> readWholeFile(const std::string& path, uint64_t maxBytes);

// `read()`'s result, or a refusal when memory ran out on the way: one
// look that cannot be had never ends the process.
template <typename Read>
Result<ColorLUT, ColorLUT::LoadError> withinMemory(Read&& read) {
    try {
        return read();
    } catch (const std::bad_alloc&) {
        return unexpected(ColorLUT::LoadError::refusedFile("could not be read: there is not enough memory"));
    }
}

// The extension of the path's last component (without the dot), as written.
std::string_view extension(std::string_view path);

// The path's last component without its extension.
std::string nameOf(std::string_view path);

}  // namespace hollowkit::lutfile
