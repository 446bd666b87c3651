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

int pollMilliseconds(TimePoint deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

// Waits for the pipe to reach end of file. Returns false at the deadline.
// A read error ends the reading like end of file: nothing more can come.
bool readUntilEnd(int fd, TimePoint deadline, std::string& output) {
    char chunk[64 * 1024];
    for (;;) {
        if (SteadyClock::now() >= deadline) return false;
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, pollMilliseconds(deadline));
        if (ready < 0 && errno != EINTR) return true;
        if (ready <= 0) continue;
        ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count > 0) {
            output.append(chunk, size_t(count));
        } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
            return true;
        }
    }
}

// Waits for the child to end and reaps it. nullopt at the deadline (the
// child is left unreaped); otherwise waitpid's status, or -1 when the child
// could not be reaped (SIGCHLD ignored by the process).
std::optional<int> waitForExit(pid_t pid, TimePoint deadline) {
    // A child may close its output and keep running, so the deadline still
    // applies after end of file. A pidfd makes the exit pollable.
    // Through syscall(): glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
    UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (pidFd) {
        for (;;) {
            if (SteadyClock::now() >= deadline) return std::nullopt;
            pollfd entry{pidFd.get(), POLLIN, 0};
            int ready = ::poll(&entry, 1, pollMilliseconds(deadline));
            if (ready > 0 || (ready < 0 && errno != EINTR)) break;
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
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

CommandResult timedOutResult(Duration timeout) {
    char text[64];
    std::snprintf(text, sizeof text, "Timed out after %g s", Seconds(timeout).count());
    return {-1, text, true};
}

}  // namespace

CommandResult CommandRunner::run(const std::string& path, const std::vector<std::string>& arguments,
                                 const std::set<int>& redacting, bool logged, Duration timeout) {
    if (logged) PocketLog::log(loggedCommandLine(path, arguments, redacting));

    // Both ends close on exec, so no other child started meanwhile by another
    // thread inherits the write end and holds our reader open.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return {-1, errorText(errno), false};
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    if (!moveAboveStandardFds(readEnd) || !moveAboveStandardFds(writeEnd)) {
        return {-1, errorText(errno), false};
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
    if (error != 0) return {-1, errorText(error), false};
    writeEnd.reset();

    // Read while the child runs: waiting first would deadlock once it fills
    // the pipe buffer.
    const TimePoint now = SteadyClock::now();
    const TimePoint deadline = timeout < TimePoint::max() - now ? now + timeout : TimePoint::max();
    std::string raw;
    if (!readUntilEnd(readEnd.get(), deadline, raw)) {
        killAndReap(pid);
        return timedOutResult(timeout);
    }
    readEnd.reset();
    std::optional<int> waitStatus = waitForExit(pid, deadline);
    if (!waitStatus) {
        killAndReap(pid);
        return timedOutResult(timeout);
    }

    CommandResult result;
    result.status = exitStatus(*waitStatus);
    if (isValidUtf8(raw)) result.output = std::string(trimWhitespace(raw));
    return result;
}

}  // namespace hollowkit
