// FreedMemoryReturn: what a thread frees within a scope is no longer
// resident once the scope ends, though glibc would keep it at the top of
// that thread's heap; overlapping scopes keep that until the last one ends.
// Each case runs in a child process, since the allocator's settings are the
// process's.

#include "hollowkit/base/freed_memory_return.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/testing/bounded_child.h"

namespace hollowkit {
namespace {

constexpr int64_t kMegabyte = 1 << 20;

int64_t residentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    }
    return 0;
}

// A worker's allocations and frees, as an encoder's threads make them: a
// heap of its own, filled with blocks and emptied again.
void fillAndEmptyAHeap(int64_t bytes) {
    std::thread([bytes] {
        std::vector<void*> blocks;
        for (int64_t done = 0; done < bytes; done += kMegabyte) {
            void* block = std::malloc(kMegabyte);
            std::memset(block, 1, kMegabyte);
            blocks.push_back(block);
        }
        for (void* block : blocks) std::free(block);
    }).join();
}

struct ScopeCase {
    const char* name;
    bool innerScopeEndsFirst;  // another scope opens and ends before the frees
};

void PrintTo(const ScopeCase& scope, std::ostream* out) {
    *out << scope.name;
}

class FreedMemoryReturnTest : public testing::TestWithParam<ScopeCase> {};

TEST_P(FreedMemoryReturnTest, FreedHeapTopIsNoLongerResident) {
    if (!testsupport::kPlainMemoryPeaks) GTEST_SKIP() << "sanitizers replace the allocator";
    const ScopeCase c = GetParam();
    const auto outcome = testsupport::runInChild(
        [&] {
            // A large block come and gone lifts glibc's thresholds, as a
            // frame does: blocks of a megabyte then come from the heaps, and
            // a heap keeps up to 32 MB free at its top.
            void* frame = std::malloc(16 * kMegabyte);
            std::memset(frame, 1, 16 * kMegabyte);
            std::free(frame);
            const int64_t before = residentBytes();
            {
                const FreedMemoryReturn outer;
                std::optional<FreedMemoryReturn> inner;
                if (c.innerScopeEndsFirst) inner.emplace();
                inner.reset();
                fillAndEmptyAHeap(24 * kMegabyte);
            }
            const int64_t grown = residentBytes() - before;
            std::printf("grew by %lld kB\n", static_cast<long long>(grown / 1024));
            return grown < 4 * kMegabyte ? 0 : 1;
        },
        std::chrono::seconds(30));
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Scopes, FreedMemoryReturnTest,
                         testing::Values(ScopeCase{"alone", false}, ScopeCase{"afterAnother", true}),
                         [](const auto& scope) { return std::string(scope.param.name); });

}  // namespace
}  // namespace hollowkit
