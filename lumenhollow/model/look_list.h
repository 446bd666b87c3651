#pragma once

// The rules for the list of imported looks: which paths name the same look,
// and how many looks, and how much memory, the list may hold. Used when the
// stored list is read at start and when the user imports files.
//
// Two paths name the same look when they lead to the same file ("./a.cube",
// "a.cube", a link to it), so no spelling loads one look twice. A look that
// cannot be loaded fails alone, with its reason; loading never throws. A
// table that would take the list past its memory is refused as soon as its
// size is known, before the rest of its file is read. Any thread (a ledger
// on one at a time); reads the look files it is given.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/stop_flag.h"
#include "hollowkit/imaging/color_lut.h"

namespace lumenhollow {

struct LookListLimits {
    // Far more than a menu can usefully show.
    size_t maxLooks = 64;
    // The tables' memory together: four of the largest, or every one of 64
    // looks of 65 points.
    int64_t maxTableBytes = int64_t{1} << 30;
    // Stored paths tried at start: the list's room several times over, so a
    // few looks on a drive not mounted yet still leave room, and a list
    // grown without bound costs no more than this.
    size_t maxPathsTried = 256;
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

// What trying one path gave: a look, a failure, or neither (the path names
// a look already held).
struct LookAttempt {
    std::optional<hollowkit::ColorLUT> look = {};
    std::optional<LookLoadFailure> failure = {};
};

// The looks a list holds (or will, once delivered) by the file each names
// and the memory its table takes: what one more path may add. Not
// thread-safe; used on one thread at a time.
class LookLedger {
public:
    explicit LookLedger(LookListLimits limits = {}) : limits_(limits) {}

    // Counts a look the list already holds.
    void hold(const hollowkit::ColorLUT& look);
    // The list no longer holds the look with this id.
    void release(std::string_view id);

    // Loads `path` within the limits, counting what it adds. `stop` ends a
    // reading under way: the attempt then holds neither look nor failure.
    LookAttempt tryLoad(const std::string& path, const hollowkit::StopFlag* stop = nullptr);

private:
    struct Held {
        std::string id;
        std::string identity;
        int64_t tableBytes = 0;
    };

    LookListLimits limits_;
    std::vector<Held> held_;
    int64_t tableBytes_ = 0;
};

// Loads the looks of `paths` that `existing` does not already hold, within
// `limits` counted together with `existing`. A path naming a look already
// held or loaded earlier in the list is skipped without a failure.
LookLoadOutcome loadLooks(const std::vector<std::string>& paths, const std::vector<hollowkit::ColorLUT>& existing,
                          const LookListLimits& limits = {});

}  // namespace lumenhollow
