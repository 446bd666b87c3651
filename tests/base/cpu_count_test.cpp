#include "hollowkit/base/cpu_count.h"

#include <sched.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace hollowkit {
namespace {

// The count follows the calling thread's affinity mask as it is narrowed,
// whatever the machine has. Each mask is set on a thread of its own, so the
// test's own mask stays as it was.
TEST(CpuCountTest, CountsTheCpusTheMaskAllows) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) cpus.push_back(cpu);
    }
    ASSERT_FALSE(cpus.empty());

    // One CPU, the last one alone, and two when there are two.
    std::vector<std::vector<int>> masks{{cpus.front()}, {cpus.back()}};
    if (cpus.size() >= 2) masks.push_back({cpus[0], cpus[1]});
    for (const std::vector<int>& mask : masks) {
        int counted = -1;
        std::thread narrowed([&] {
            cpu_set_t set;
            CPU_ZERO(&set);
            for (int cpu : mask) CPU_SET(cpu, &set);
            if (::sched_setaffinity(0, sizeof set, &set) == 0) counted = usableCpuCount();
        });
        narrowed.join();
        EXPECT_EQ(counted, static_cast<int>(mask.size())) << "first CPU " << mask.front();
    }
}

}  // namespace
}  // namespace hollowkit
