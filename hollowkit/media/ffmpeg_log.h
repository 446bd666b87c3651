#pragma once

// FFmpeg's log, routed into PocketLog. FFmpeg keeps one process-wide log
// level and callback; installFfmpegLogging() sets both, so it is called
// once from main() (the application's, the test and benchmark programs'),
// never from library code.
//
// Errors and warnings reach PocketLog as "FFmpeg error [libx264] text" or
// "FFmpeg warning [aac] text"; everything chattier (encoder statistics,
// muxer progress) is dropped, so FFmpeg writes nothing to standard error.
// The pieces FFmpeg prints one line in are joined per context (and
// thread) first. At most kFfmpegLogLinesPerSecond lines a second are
// logged, so a broken stream cannot flood the log; how many were left out
// is logged before the first line of a later second. Any thread.

#include "hollowkit/base/clock.h"

namespace hollowkit {

inline constexpr int kFfmpegLogLinesPerSecond = 10;

// `clock` times the rate limit and must outlive its use (a test hands in a
// ManualClock and installs again with the system clock when done).
void installFfmpegLogging(const Clock& clock = Clock::system());

}  // namespace hollowkit
