// The memory settings: with them, what a worker thread freed is no longer
// resident once the work is over, though glibc would keep it at the top of
// that thread's heap, and the hand-back at the end of the work returns what
// was freed beneath a block still in use; a block a frame's size freed and
// made again is served from the heap, not mapped anew. Each case runs in a
// child process that makes the settings as main() does, since they are the
// process's.

#include "hollowkit/base/memory_settings.h"

#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/resident_size.h"

namespace hollowkit {
namespace {

constexpr int64_t kMegabyte = 1 << 20;

// A worker's allocations and frees, as an encoder's threads make them: a
// heap of its own, filled with blocks and emptied again. With `pinned`, a
// block made last stays in use, so what was freed lies beneath it rather
// than at the heap's top. Gives that block (or null).
void* fillAndEmptyAHeap(int64_t bytes, bool pinned) {
    void* pin = nullptr;
    std::thread([bytes, pinned, &pin] {
        std::vector<void*> blocks;
        for (int64_t done = 0; done < bytes; done += kMegabyte) {
            void* block = std::malloc(kMegabyte);
            std::memset(block, 1, kMegabyte);
            blocks.push_back(block);
        }
        if (pinned) {
            pin = std::malloc(4096);
            std::memset(pin, 1, 4096);
        }
        for (void* block : blocks) std::free(block);
    }).join();
    return pin;
}

struct ReturnCase {
    const char* name;
    bool pinned;    // a block still in use above the freed ones
    bool handBack;  // returnFreedMemory() after the work, as a finished movie does
    bool returned;  // what was freed is no longer resident
};

void PrintTo(const ReturnCase& c, std::ostream* out) {
    *out << c.name;
}

class MemorySettingsTest : public testing::TestWithParam<ReturnCase> {};

TEST_P(MemorySettingsTest, AWorkersFreedHeapIsNoLongerResident) {
    if (!testsupport::kPlainMemoryPeaks) GTEST_SKIP() << "sanitizers replace the allocator";
    const ReturnCase c = GetParam();
    const auto outcome = testsupport::runInChild(
        [&] {
            applyMemorySettings();
            // A large block come and gone would lift glibc's own thresholds,
            // as a frame does; the settings hold them where they are.
            void* frame = std::malloc(16 * kMegabyte);
            std::memset(frame, 1, 16 * kMegabyte);
            std::free(frame);
            const int64_t before = testsupport::residentBytes();
            void* pin = fillAndEmptyAHeap(24 * kMegabyte, c.pinned);
            if (c.handBack) returnFreedMemory();
            const int64_t grown = testsupport::residentBytes() - before;
            std::free(pin);
            std::printf("grew by %lld kB\n", static_cast<long long>(grown / 1024));
            const bool returned = grown < 4 * kMegabyte;
            const bool kept = grown > 16 * kMegabyte;
            return (c.returned ? returned : kept) ? 0 : 1;
        },
        std::chrono::seconds(30));
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Work, MemorySettingsTest,
                         testing::Values(
                             // The top goes back as it is freed.
                             ReturnCase{"asFreed", false, false, true},
                             // Beneath a block in use, freeing alone keeps it
                             // (so the case below depends on the hand-back)...
                             ReturnCase{"keptBeneathABlockInUse", true, false, false},
                             // ...and the hand-back returns it.
                             ReturnCase{"handedBack", true, true, true}),
                         [](const auto& c) { return std::string(c.param.name); });

// Blocks of a frame's size come from the heap, to be reused, where glibc's
// first threshold would map (and zero) each one anew.
TEST(MemorySettingsTest, AFrameSizedBlockComesFromTheHeap) {
    if (!testsupport::kPlainMemoryPeaks) GTEST_SKIP() << "sanitizers replace the allocator";
    const auto outcome = testsupport::runInChild(
        [] {
            applyMemorySettings();
            const size_t mappedBefore = mallinfo2().hblkhd;
            void* frame = std::malloc(8 * kMegabyte);  // 1920x1080 BGRA
            static_cast<volatile char*>(frame)[0] = 1;
            const size_t mapped = mallinfo2().hblkhd - mappedBefore;
            std::free(frame);
            return mapped == 0 ? 0 : 1;
        },
        std::chrono::seconds(30));
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0);
}

}  // namespace
}  // namespace hollowkit
