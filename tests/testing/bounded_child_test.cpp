#include "hollowkit/testing/bounded_child.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

namespace hollowkit::testsupport {
namespace {

// The peak is what the cases rest on: touched memory must show in it, and
// memory merely mapped or held by the parent must not.
TEST(BoundedChildTest, PeakCountsWhatTheBodyTouches) {
    std::vector<char> parentHeld(size_t{64} << 20, 1);  // resident before the fork
    for (const int64_t megabytes : {0, 48, 160}) {
        SCOPED_TRACE(megabytes);
        const auto outcome = runInChild(
            [&] {
                std::vector<char> touched(static_cast<size_t>(megabytes) << 20);
                std::fill(touched.begin(), touched.end(), char{7});
                return touched.size() == static_cast<size_t>(megabytes) << 20 ? 0 : 1;
            },
            std::chrono::seconds(20));
        ASSERT_TRUE(outcome.finished);
        EXPECT_EQ(outcome.exitCode, 0);
        if (!kPlainMemoryPeaks) continue;
        // File-backed pages counted at the start may be dropped under memory
        // pressure, so the growth may fall short of the touched size by a little.
        EXPECT_GE(outcome.peakGrowthBytes, (megabytes << 20) - (int64_t{1} << 20));
        EXPECT_LT(outcome.peakGrowthBytes, (megabytes + 16) << 20);
    }
    EXPECT_EQ(parentHeld.back(), 1);
}

TEST(BoundedChildTest, AHangIsCutAtTheBoundAndACrashIsReported) {
    const auto hung = runInChild(
        [] {
            ::poll(nullptr, 0, -1);
            return 0;
        },
        std::chrono::seconds(1));
    EXPECT_FALSE(hung.finished);

    const auto crashed = runInChild(
        []() -> int {
            std::abort();
        },
        std::chrono::seconds(10));
    EXPECT_TRUE(crashed.finished);
    EXPECT_EQ(crashed.exitCode, -1);

    const auto failed = runInChild([] { return 3; }, std::chrono::seconds(10));
    EXPECT_TRUE(failed.finished);
    EXPECT_EQ(failed.exitCode, 3);
}

}  // namespace
}  // namespace hollowkit::testsupport
