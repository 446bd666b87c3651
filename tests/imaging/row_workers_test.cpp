#include "hollowkit/imaging/row_workers.h"

#include <sched.h>

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

// The look's workers are sized by the CPUs the program may use, at most
// four: pinned to two CPUs (`taskset -c 0,1`, a two-core laptop) it starts
// no more workers than there are CPUs to run them beside the encoder.
TEST(RowWorkersTest, DefaultThreadCountFollowsTheCpusThisProcessMayUse) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) cpus.push_back(cpu);
    }
    const auto countWhenPinnedTo = [&](size_t wanted) {
        int count = 0;
        std::thread([&] {
            cpu_set_t set;
            CPU_ZERO(&set);
            for (size_t i = 0; i < wanted; ++i) CPU_SET(cpus[i], &set);
            if (sched_setaffinity(0, sizeof set, &set) == 0) count = RowWorkers::defaultThreadCount();
        }).join();
        return count;
    };
    struct Case {
        size_t cpus;
        int threads;
    };
    const Case cases[] = {{1, 1}, {2, 2}, {3, 3}, {5, 4}};
    int checked = 0;
    for (const Case& c : cases) {
        if (c.cpus > cpus.size()) continue;
        EXPECT_EQ(countWhenPinnedTo(c.cpus), c.threads) << c.cpus << " CPUs";
        ++checked;
    }
    if (checked < 2) GTEST_SKIP() << "needs two CPUs, has " << cpus.size();
}

}  // namespace
}  // namespace hollowkit
