#include "hollowkit/testing/bounded_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/resident_size.h"

namespace hollowkit::testsupport {

namespace {

void writeAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n <= 0) return;
        p += n;
        size -= static_cast<size_t>(n);
    }
}

}  // namespace

ChildOutcome runInChild(const std::function<int()>& body, std::chrono::seconds timeLimit) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return {};
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) {
        readEnd.reset();
        // "5" resets the peak resident size to the current one.
        if (std::FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", refs);
            std::fclose(refs);
        }
        const int64_t start = statusBytes("VmRSS");
        const int code = body();
        const int64_t growth = statusBytes("VmHWM") - start;
        writeAll(writeEnd.get(), &growth, sizeof growth);
        ::_exit(code);
    }
    writeEnd.reset();

    ChildOutcome outcome;
    pollfd waiting{readEnd.get(), POLLIN, 0};
    const int ready = ::poll(&waiting, 1, static_cast<int>(std::chrono::milliseconds(timeLimit).count()));
    if (ready == 1) {
        // Readable: the peak was written, or the child died without it.
        outcome.finished = true;
        int64_t growth = 0;
        if (::read(readEnd.get(), &growth, sizeof growth) == static_cast<ssize_t>(sizeof growth)) {
            outcome.peakGrowthBytes = growth;
        }
    } else {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (outcome.finished && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    if (outcome.exitCode != 0) outcome.peakGrowthBytes = 0;
    return outcome;
}

}  // namespace hollowkit::testsupport
