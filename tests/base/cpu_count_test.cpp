#include "hollowkit/base/cpu_count.h"

#include <sched.h>

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

// The count follows the calling thread's affinity, not the machine: a thread
// pinned to one, two or three of the CPUs this test may use sees that many.
TEST(CpuCountTest, FollowsTheAffinityMask) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) cpus.push_back(cpu);
    }
    EXPECT_EQ(usableCpuCount(), static_cast<int>(cpus.size()));
    if (cpus.size() < 3) GTEST_SKIP() << "needs three CPUs, has " << cpus.size();

    for (const int wanted : {1, 2, 3}) {
        int seen = 0;
        std::thread([&] {
            cpu_set_t set;
            CPU_ZERO(&set);
            for (int i = 0; i < wanted; ++i) CPU_SET(cpus[static_cast<size_t>(i)], &set);
            if (sched_setaffinity(0, sizeof set, &set) == 0) seen = usableCpuCount();
        }).join();
        EXPECT_EQ(seen, wanted);
    }
}

}  // namespace
}  // namespace hollowkit
