// Trims from several threads at once take turns. glibc sets its heap up on
// the first call that needs it, without a lock, so two first trims at once
// crash inside it (seen with AddressSanitizer, whose allocator leaves glibc's
// heap untouched until then, when two movies finished in the same moment).
//
// This program stands in for glibc's malloc_trim: while a case watches, each
// trim holds on for a while before going on to glibc's, so a second one let
// in meanwhile is seen, whatever the timing.

#include "hollowkit/base/memory_settings.h"

#include <dlfcn.h>
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <latch>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/testing/bounded_child.h"

namespace hollowkit {
namespace {

struct TrimWatch {
    std::atomic<bool> watching{false};
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};
    std::atomic<int> calls{0};
};

TrimWatch& trimWatch() {
    static TrimWatch watch;
    return watch;
}

using TrimFunction = int (*)(size_t);

TrimFunction glibcTrim() {
    static const TrimFunction trim = reinterpret_cast<TrimFunction>(dlsym(RTLD_NEXT, "malloc_trim"));
    return trim;
}

}  // namespace
}  // namespace hollowkit

extern "C" int malloc_trim(size_t pad) noexcept {
    using namespace hollowkit;
    TrimWatch& watch = trimWatch();
    if (!watch.watching.load()) return glibcTrim()(pad);
    const int inside = watch.inside.fetch_add(1) + 1;
    int most = watch.mostInside.load();
    while (inside > most && !watch.mostInside.compare_exchange_weak(most, inside)) {
    }
    // Holds on until a second trim is inside too, or for long enough that one
    // let in with this one has surely arrived.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    while (watch.inside.load() < 2 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const int result = glibcTrim()(pad);
    watch.inside.fetch_sub(1);
    watch.calls.fetch_add(1);
    return result;
}

namespace hollowkit {
namespace {

constexpr int kTrimmingThreads = 3;

// Threads let go together into the hand-back, as movies that finish in the
// same moment do.
void trimAllAtOnce() {
    std::latch go(kTrimmingThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kTrimmingThreads; ++i) {
        threads.emplace_back([&go] {
            go.arrive_and_wait();
            returnFreedMemory();
        });
    }
    for (std::thread& thread : threads) thread.join();
}

// First trims of fresh processes at once, through glibc's own trim. Only a
// sanitizer's allocator leaves glibc's heap unset until a first trim sets it
// up, as in any of its programs; in a plain build main() set it up long
// before, so the case could not fail there (it passes with the turns taken
// away) and runs in sanitizer builds only. Run first, so that no trim of
// this process came before.
TEST(MemoryTrimTurnsTest, FirstTrimsOfAFreshProcessAtOnceDoNotCrash) {
#ifndef HK_SANITIZED_BUILD
    GTEST_SKIP() << "only a sanitizer's allocator leaves glibc's heap to the first trim; this build's main() set it up";
#endif
    constexpr int kProcesses = 40;
    int crashed = 0;
    for (int i = 0; i < kProcesses; ++i) {
        const auto outcome = testsupport::runInChild(
            [] {
                trimAllAtOnce();
                return 0;
            },
            std::chrono::seconds(60));
        ASSERT_TRUE(outcome.finished);
        if (outcome.exitCode != 0) ++crashed;
    }
    EXPECT_EQ(crashed, 0) << "of " << kProcesses;
}

TEST(MemoryTrimTurnsTest, TrimsLetGoTogetherTakeTurns) {
    ASSERT_NE(glibcTrim(), nullptr);
    TrimWatch& watch = trimWatch();
    watch.watching = true;
    trimAllAtOnce();
    watch.watching = false;
    EXPECT_EQ(watch.calls.load(), kTrimmingThreads);
    EXPECT_EQ(watch.mostInside.load(), 1);
}

}  // namespace
}  // namespace hollowkit
