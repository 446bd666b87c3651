#include "lumenhollow/platform/instance_lock.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "hollowkit/testing/manual_clock.h"
#include "lumenhollow/testing/fake_instance_lock.h"

// How a start goes on over the settings folder's lock, against a holder the
// test plays: it starts when the lock is free or freed, hands over to a
// holder that answers, never to the program that relaunched it while that
// one ends, and gives up only after the wait.

namespace lumenhollow {
namespace {

constexpr auto kWait = std::chrono::seconds(60);
constexpr int kRelauncher = 41;
// Pauses of a tenth of a second in the whole wait.
constexpr int kPausesInWait = 600;

TEST(InstanceLockTest, AStartRunsHandsOverOrWaitsAsTheLockAndItsHolderSay) {
    using Change = std::function<void(FakeInstanceLock&)>;
    struct Case {
        const char* name;
        bool heldElsewhere;
        bool holderAnswers;
        std::optional<int> relaunchedFrom;
        bool relauncherRuns;
        std::map<int, Change> atPause;
        InstanceClaim expected;
        int asks;
        int pauses;
    };
    const Change released = [](FakeInstanceLock& lock) { lock.setHeldElsewhere(false); };
    const Change answering = [](FakeInstanceLock& lock) { lock.setHolderAnswers(true); };
    const Change relauncherEnds = [](FakeInstanceLock& lock) {
        lock.setRunning(kRelauncher, false);
        lock.setHeldElsewhere(false);
    };
    const std::vector<Case> cases{
        {"a free lock", false, false, std::nullopt, false, {}, InstanceClaim::run, 0, 0},
        {"a running program that answers", true, true, std::nullopt, false, {}, InstanceClaim::handedOver, 1, 0},
        {"a program still starting answers at the third ask", true, false, std::nullopt, false, {{2, answering}},
         InstanceClaim::handedOver, 3, 2},
        {"a program ending lets go of its lock", true, false, std::nullopt, false, {{3, released}},
         InstanceClaim::run, 3, 3},
        {"relaunched: the ending program is never asked, though it would answer", true, true, kRelauncher, true,
         {{5, relauncherEnds}}, InstanceClaim::run, 0, 5},
        {"relaunched after the program ended, another one holding the lock", true, true, kRelauncher, false, {},
         InstanceClaim::handedOver, 1, 0},
        {"relaunched: once the program ended, the one that took the lock is asked", true, true, kRelauncher, true,
         {{2, [](FakeInstanceLock& lock) { lock.setRunning(kRelauncher, false); }}}, InstanceClaim::handedOver, 1, 2},
        {"nothing answers and the lock stays held", true, false, std::nullopt, false, {}, InstanceClaim::busy,
         kPausesInWait + 1, kPausesInWait},
        {"relaunched: the program never ends", true, true, kRelauncher, true, {}, InstanceClaim::busy, 0,
         kPausesInWait},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hollowkit::ManualClock clock;
        FakeInstanceLock lock(clock);
        lock.setHeldElsewhere(c.heldElsewhere);
        lock.setHolderAnswers(c.holderAnswers);
        lock.setRunning(kRelauncher, c.relauncherRuns);
        for (const auto& [pause, change] : c.atPause) lock.atPause(pause, change);
        const auto start = clock.now();
        EXPECT_EQ(claimInstance(lock, clock, c.relaunchedFrom, kWait), c.expected);
        EXPECT_EQ(lock.holds(), c.expected == InstanceClaim::run);
        EXPECT_EQ(lock.asks(), c.asks);
        EXPECT_EQ(lock.pauses(), c.pauses);
        EXPECT_LE(clock.now() - start, kWait) << "waited past the bound";
    }
}

}  // namespace
}  // namespace lumenhollow
