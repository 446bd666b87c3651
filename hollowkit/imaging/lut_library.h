#pragma once

// LUTLibrary: the six built-in colour looks, 33-point tables computed once on
// first use (thread-safe) and shared, read-only, for the life of the process.

#include <string_view>
#include <vector>

#include "hollowkit/imaging/color_lut.h"

namespace hollowkit::LUTLibrary {

// Warm, Cool, Teal & Orange, Mono, Faded Film, Vivid, in that order. Any thread.
const std::vector<ColorLUT>& builtIn();

// The built-in look with this id ("builtin.warm" ...), or null.
const ColorLUT* builtInLook(std::string_view id);

}  // namespace hollowkit::LUTLibrary
