#pragma once

// The rules for the list of imported looks: which paths name the same look,
// and how many looks, and how much memory, the list may hold. Used when the
// stored list is read at start and when the user imports files.
//
// Two paths name the same look when they lead to the same file ("./a.cube",
// "a.cube", a link to it), so no spelling loads one look twice. A look that
// cannot be loaded fails alone, with its reason; loading never throws. Any
// thread; reads the look files it is given.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/imaging/color_lut.h"

namespace lumenhollow {

struct LookListLimits {
    // Far more than a menu can usefully show.
    size_t maxLooks = 64;
    // The tables' memory together: four of the largest, or every one of 64
    // looks of 65 points.
    int64_t maxTableBytes = int64_t{1} << 30;
};

struct LookLoadFailure {
    std::string path;
    std::string message;  // the sentence shown to the user after the file's name

    bool operator==(const LookLoadFailure&) const = default;
};

struct LookLoadOutcome {
    std::vector<hollowkit::ColorLUT> added;  // in the paths' order
    std::vector<LookLoadFailure> failures;   // in the paths' order
};

// What a path is compared by: the file's real path when it can be resolved,
// else the absolute path made plain ("a/../b" as "b"). Nothing for an empty
// path or one holding a NUL byte, which names no file.
std::optional<std::string> lookIdentity(std::string_view path);

// The memory a loaded look's table takes.
int64_t lookTableBytes(const hollowkit::ColorLUT& look);

// Loads the looks of `paths` that `existing` does not already hold, within
// `limits` counted together with `existing`. A path naming a look already
// held or loaded earlier in the list is skipped without a failure.
LookLoadOutcome loadLooks(const std::vector<std::string>& paths, const std::vector<hollowkit::ColorLUT>& existing,
                          const LookListLimits& limits = {});

}  // namespace lumenhollow
