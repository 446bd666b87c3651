#pragma once

// CommandRunner: runs a system tool as a child process and returns its exit
// status and what it wrote. Blocks only the calling thread, holds no lock;
// any thread. The child's stdout and stderr share one pipe, read while it
// runs; its stdin is /dev/null; it runs in its own process group so a
// time-out kills whatever it started as well.

#include <chrono>
#include <cstddef>
#include <set>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/stop_flag.h"

namespace hollowkit {

struct CommandResult {
    // The child's exit status. -1 when it could not start or timed out;
    // 128 + N when it was killed by signal N (as shells report it).
    int status = 0;
    // stdout and stderr as UTF-8 text, trimmed of white space at both ends;
    // empty when not valid UTF-8. The start error's text when it could not
    // start; "Timed out after N s" after a time-out.
    std::string output;
    bool timedOut = false;
    // The caller's stop flag ended the run (status -1, output "Stopped").
    bool stopped = false;
    // The child wrote more than CommandRunner::kMaxOutputBytes: `output`
    // holds the start (cut back to whole characters), the rest was read and
    // dropped.
    bool truncated = false;

    bool operator==(const CommandResult&) const = default;
};

class CommandRunner {
public:
    static constexpr Duration kDefaultTimeout = std::chrono::seconds(30);
    // What is kept of a child's output; more is read (so the child never
    // blocks on a full pipe) and dropped, with one log line.
    static constexpr size_t kMaxOutputBytes = 1024 * 1024;

    CommandRunner() = delete;

    // Runs `path` (absolute) with `arguments`. When `logged`, logs
    // "$ <path> <arguments>" first, with each argument whose position is in
    // `redacting` shown as "<redacted>"; the child still gets the real text.
    // After `timeout` the child's process group is killed; so it is as
    // soon as `stop` (when given) is set, checked every kStopCheck, which
    // lets an owner end a worker blocked in a tool.
    static CommandResult run(const std::string& path,
                             const std::vector<std::string>& arguments,
                             const std::set<int>& redacting = {},
                             bool logged = true,
                             Duration timeout = kDefaultTimeout,
                             const StopFlag* stop = nullptr);

    static constexpr Duration kStopCheck = std::chrono::milliseconds(50);
};

// The first `name` on `searchPath` (folders separated by ':', empty ones
// skipped) that this process may run; nothing when there is none.
std::optional<std::string> findProgram(std::string_view searchPath, std::string_view name);

}  // namespace hollowkit
