#pragma once

// CursorTimeline: the pointer's record of a screen-and-camera take, 60
// samples a second, with positions normalised to the recorded display (0 at
// its left and top edges, 1 at its right and bottom edges; a pointer on
// another display gives values outside 0...1) and the times of key presses.
// Stored in the take folder as "Cursor.json"; read back by the zoom planner.
// Plain values, any thread.
//
// "Cursor.json" is compact JSON: {"samples":[{"time","x","y","pressed",
// "overApp"}...],"keyPresses":[...]}, keys written in that order and read in
// any order. Reading requires every key with its type; anything else is
// refused as a whole, with the reason, and the file is left as it is.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/held_folder.h"
#include "hollowkit/base/result.h"

namespace hollowkit {

struct CursorSample {
    double time = 0;  // seconds: the host clock while recording, from the take's start once shifted
    double x = 0;
    double y = 0;
    bool pressed = false;  // the left button is down
    bool overApp = false;  // the topmost window under the pointer is one of the app's

    bool operator==(const CursorSample&) const = default;
};

struct CursorPoint {
    double x = 0;
    double y = 0;

    bool operator==(const CursorPoint&) const = default;
};

struct CursorTimeline {
    std::vector<CursorSample> samples;  // in the order taken, so in increasing time
    std::vector<double> keyPresses;     // key-down times, same clock, in order

    bool operator==(const CursorTimeline&) const = default;

    // Every time reduced by `offset`; nothing dropped (earlier times become
    // negative).
    CursorTimeline shifted(double offset) const;

    // The samples where the button goes down: pressed after a sample that
    // was not (a pressed first sample counts).
    std::vector<CursorSample> pressOnsets() const;

    // The pointer at `time`, interpolated between the samples around it;
    // the first or last sample's position outside them; nothing for an
    // empty timeline or a time that is not a number.
    std::optional<CursorPoint> position(double time) const;

    // The file's text. Fails when a value is not a finite number (JSON has
    // none to write).
    Result<std::string, std::string> encode() const;
    static Result<CursorTimeline, std::string> decode(std::string_view json);

    // Writes through a temporary file renamed into place, so a failed write
    // leaves an earlier file whole. Errors say what failed.
    Result<void, std::string> write(const std::filesystem::path& file) const;
    // The same as `name` in a held folder (a take's), wherever it now is.
    Result<void, std::string> write(const HeldFolder& folder, const std::string& name) const;
    // Only a regular file of at most kMaxFileBytes is read (the error names
    // the file and why it was refused).
    static Result<CursorTimeline, std::string> load(const std::filesystem::path& file);

    // About 90 minutes of pointer samples at 60 a second. Decoding takes
    // some fourteen times the text in memory, so the bound is kept tight.
    static constexpr uint64_t kMaxFileBytes = uint64_t{32} << 20;
};

}  // namespace hollowkit
