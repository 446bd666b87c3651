#include "hollowkit/base/standard_streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/testing/bounded_child.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

struct ClosedStreamsCase {
    const char* name;
    std::vector<int> closed;
};

class StandardStreamsTest : public testing::TestWithParam<ClosedStreamsCase> {};

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// In a child, since it closes this process's own standard streams: each
// closed one comes back on /dev/null (inherited by programs started, read
// and written without error), those left open are the files they were, and
// the next pipe opened takes numbers above all three. The exit code names
// the first check that failed.
TEST_P(StandardStreamsTest, EachClosedOneIsOpenedOnDevNullAndTheOthersAreLeft) {
    const std::vector<int> closed = GetParam().closed;
    const auto outcome = testsupport::runInChild(
        [&closed] {
            struct stat devNull {};
            if (::stat("/dev/null", &devNull) != 0) return 10;
            struct stat before[3] = {};
            for (int fd = 0; fd <= 2; ++fd) {
                if (::fstat(fd, &before[fd]) != 0) return 11;
            }
            for (int fd : closed) ::close(fd);
            if (!openClosedStandardStreams()) return 12;
            for (int fd = 0; fd <= 2; ++fd) {
                struct stat now {};
                if (::fstat(fd, &now) != 0) return 20 + fd;
                const bool wasClosed = std::find(closed.begin(), closed.end(), fd) != closed.end();
                if (!wasClosed) {
                    if (!sameFile(now, before[fd])) return 30 + fd;
                    continue;
                }
                if (!S_ISCHR(now.st_mode) || now.st_rdev != devNull.st_rdev) return 40 + fd;
                if ((::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0) return 50 + fd;
                char byte = 'x';
                if (::write(fd, &byte, 1) != 1) return 60 + fd;
                if (::read(fd, &byte, 1) != 0) return 70 + fd;
            }
            int next[2];
            if (::pipe(next) != 0) return 13;
            return next[0] > 2 && next[1] > 2 ? 0 : 14;
        },
        30s);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0) << "2x: a stream is closed; 3x: an open one was replaced; 4x: not /dev/null; "
                                      "5x: closed on exec; 6x, 7x: not writable, not readable; 14: a new pipe "
                                      "took a standard stream's number";
}

INSTANTIATE_TEST_SUITE_P(Closed, StandardStreamsTest,
                         testing::Values(ClosedStreamsCase{"Input", {0}}, ClosedStreamsCase{"Output", {1}},
                                         ClosedStreamsCase{"Error", {2}}, ClosedStreamsCase{"InputAndError", {0, 2}},
                                         ClosedStreamsCase{"AllThree", {0, 1, 2}}, ClosedStreamsCase{"None", {}}),
                         [](const testing::TestParamInfo<ClosedStreamsCase>& c) { return std::string(c.param.name); });

}  // namespace
}  // namespace hollowkit
