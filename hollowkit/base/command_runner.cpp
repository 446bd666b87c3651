#include "hollowkit/base/command_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/base/utf8.h"

extern char** environ;

namespace hollowkit {
namespace {

std::string errorText(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);  // GNU form: returns the text
}

std::string loggedCommandLine(const std::string& path, const std::vector<std::string>& arguments,
                              const std::set<int>& redacting) {
    std::string line = "$ " + path + " ";
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) line += ' ';
        line += redacting.contains(static_cast<int>(i)) ? "<redacted>" : arguments[i];
    }
    return line;
}

// Keeps the pipe clear of fds 0-2: when the process runs with one of them
// closed, pipe2() may hand it out and the child's dup2 of /dev/null or the
// pipe onto 0-2 would then clobber it.
bool moveAboveStandardFds(UniqueFd& fd) {
    if (fd.get() > STDERR_FILENO) return true;
    int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0) return false;
    fd.reset(moved);
    return true;
}

struct SpawnActions {
    SpawnActions() { ::posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t actions;
};

struct SpawnAttributes {
    SpawnAttributes() { ::posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t attributes;
};

// Why a wait ended early.
enum class WaitEnd : uint8_t { none = 0, deadline, stopped };

// The next poll's wait: up to the deadline, and no longer than one stop
// check when there is a flag to watch.
int pollMilliseconds(TimePoint deadline, const StopFlag* stop) {
    TimePoint until = deadline;
    if (stop != nullptr) until = std::min(until, SteadyClock::now() + CommandRunner::kStopCheck);
    auto left = std::chrono::ceil<std::chrono::milliseconds>(until - SteadyClock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

WaitEnd interrupted(TimePoint deadline, const StopFlag* stop) {
    if (stop != nullptr && stop->isSet()) return WaitEnd::stopped;
    if (SteadyClock::now() >= deadline) return WaitEnd::deadline;
    return WaitEnd::none;
}

// What the child wrote: the first kMaxOutputBytes, and how much came after.
struct CapturedOutput {
    std::string kept;
    size_t droppedBytes = 0;

    void append(const char* bytes, size_t count) {
        const size_t room = CommandRunner::kMaxOutputBytes - kept.size();
        const size_t taken = std::min(room, count);
        kept.append(bytes, taken);
        droppedBytes += count - taken;
    }
};

// Drops a character the cut at kMaxOutputBytes left incomplete, so that
// the start of a long UTF-8 output still reads as text.
void dropCutCharacter(std::string& text) {
    size_t continuations = 0;
    while (continuations < 3 && continuations < text.size() &&
           (static_cast<unsigned char>(text[text.size() - 1 - continuations]) & 0xC0) == 0x80) {
        ++continuations;
    }
    if (continuations == text.size()) return;
    const auto lead = static_cast<unsigned char>(text[text.size() - 1 - continuations]);
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (length > continuations + 1) text.resize(text.size() - 1 - continuations);
}

// Waits for the pipe to reach end of file; `none` when it did. A read error
// ends the reading like end of file: nothing more can come.
WaitEnd readUntilEnd(int fd, TimePoint deadline, const StopFlag* stop, CapturedOutput& output) {
    char chunk[64 * 1024];
    for (;;) {
        if (WaitEnd end = interrupted(deadline, stop); end != WaitEnd::none) return end;
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, pollMilliseconds(deadline, stop));
        if (ready < 0 && errno != EINTR) return WaitEnd::none;
        if (ready <= 0) continue;
        ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count > 0) {
            output.append(chunk, size_t(count));
        } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
            return WaitEnd::none;
        }
    }
}

// Waits for the child to end and reaps it into `status` (-1 when it could
// not be reaped: SIGCHLD ignored by the process). Early ends leave the child
// unreaped.
WaitEnd waitForExit(pid_t pid, TimePoint deadline, const StopFlag* stop, int& status) {
    // A child may close its output and keep running, so the deadline still
    // applies after end of file. A pidfd makes the exit pollable.
    // Through syscall(): glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
    UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (pidFd) {
        for (;;) {
            if (WaitEnd end = interrupted(deadline, stop); end != WaitEnd::none) return end;
            pollfd entry{pidFd.get(), POLLIN, 0};
            int ready = ::poll(&entry, 1, pollMilliseconds(deadline, stop));
            if (ready > 0 || (ready < 0 && errno != EINTR)) break;
        }
    }
    status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            status = -1;
            break;
        }
    }
    return WaitEnd::none;
}

void killAndReap(pid_t pid) {
    // The whole group: tools that fork helpers must not leave them running.
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

int exitStatus(int waitStatus) {
    if (waitStatus == -1) return -1;
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

CommandResult endedEarly(WaitEnd end, Duration timeout) {
    if (end == WaitEnd::stopped) return {-1, "Stopped", false, true};
    char text[64];
    std::snprintf(text, sizeof text, "Timed out after %g s", Seconds(timeout).count());
    return {-1, text, true, false};
}

}  // namespace

CommandResult CommandRunner::run(const std::string& path, const std::vector<std::string>& arguments,
                                 const std::set<int>& redacting, bool logged, Duration timeout,
                                 const StopFlag* stop) {
    if (stop != nullptr && stop->isSet()) return endedEarly(WaitEnd::stopped, timeout);
    if (logged) PocketLog::log(loggedCommandLine(path, arguments, redacting));

    // Both ends close on exec, so no other child started meanwhile by another
    // thread inherits the write end and holds our reader open.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return {-1, errorText(errno), false, false};
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    if (!moveAboveStandardFds(readEnd) || !moveAboveStandardFds(writeEnd)) {
        return {-1, errorText(errno), false, false};
    }

    SpawnActions actions;
    ::posix_spawn_file_actions_addopen(&actions.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions.actions, writeEnd.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions.actions, writeEnd.get(), STDERR_FILENO);
    // Also fds other code opened without O_CLOEXEC.
    ::posix_spawn_file_actions_addclosefrom_np(&actions.actions, STDERR_FILENO + 1);

    // Own process group, so a time-out can kill everything the tool started;
    // default signal handling and an empty mask, whatever this thread had.
    SpawnAttributes attributes;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setflags(&attributes.attributes,
                               POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    ::posix_spawnattr_setpgroup(&attributes.attributes, 0);
    ::posix_spawnattr_setsigmask(&attributes.attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes.attributes, &all);

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    int error = ::posix_spawn(&pid, path.c_str(), &actions.actions, &attributes.attributes, argv.data(), environ);
    if (error != 0) return {-1, errorText(error), false, false};
    writeEnd.reset();

    // Read while the child runs: waiting first would deadlock once it fills
    // the pipe buffer.
    const TimePoint now = SteadyClock::now();
    const TimePoint deadline = timeout < TimePoint::max() - now ? now + timeout : TimePoint::max();
    CapturedOutput captured;
    if (WaitEnd end = readUntilEnd(readEnd.get(), deadline, stop, captured); end != WaitEnd::none) {
        killAndReap(pid);
        return endedEarly(end, timeout);
    }
    readEnd.reset();
    int waitStatus = 0;
    if (WaitEnd end = waitForExit(pid, deadline, stop, waitStatus); end != WaitEnd::none) {
        killAndReap(pid);
        return endedEarly(end, timeout);
    }

    CommandResult result;
    result.status = exitStatus(waitStatus);
    std::string& raw = captured.kept;
    if (captured.droppedBytes > 0) {
        result.truncated = true;
        dropCutCharacter(raw);
        PocketLog::logf("%s wrote more than %zu bytes; %zu left out", path.c_str(), kMaxOutputBytes,
                        captured.droppedBytes);
    }
    if (isValidUtf8(raw)) result.output = std::string(trimWhitespace(raw));
    return result;
}

std::optional<std::string> findProgram(std::string_view searchPath, std::string_view name) {
    size_t start = 0;
    while (start <= searchPath.size()) {
        size_t end = searchPath.find(':', start);
        if (end == std::string_view::npos) end = searchPath.size();
        if (end > start) {
            std::string candidate(searchPath.substr(start, end - start));
            candidate += '/';
            candidate += name;
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace hollowkit
