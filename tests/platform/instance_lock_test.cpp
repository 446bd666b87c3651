#include "lumenhollow/platform/instance_lock.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "hollowkit/testing/manual_clock.h"
#include "lumenhollow/testing/fake_instance_lock.h"

// How a start goes on over the settings folder's lock, against a holder the
// test plays, in virtual time: it starts when the lock is free or freed,
// hands over to a holder that answers, gives one that does not a few
// seconds in all and one that refuses (ending) as long, never asks the
// program that relaunched it while that one ends, and leaves every wait at
// once on a termination signal.

namespace lumenhollow {
namespace {

using namespace std::chrono_literals;

constexpr InstanceWaits kWaits{5s, 60s};
constexpr int kRelauncher = 41;
constexpr int kOtherHolder = 42;
// Pauses of a tenth of a second in each wait.
constexpr int kPausesInAnswerWait = 50;
constexpr int kPausesInRelaunchWait = 600;

TEST(InstanceLockTest, AStartRunsHandsOverOrGivesUpAsTheLockAndItsHolderSay) {
    using Change = std::function<void(FakeInstanceLock&)>;
    struct Case {
        const char* name;
        bool heldElsewhere;
        HolderReply holder;
        std::optional<int> relaunchedFrom;
        bool relauncherRuns;
        std::map<int, Change> atPause;
        InstanceClaim expected;
        int asks;
        int pauses;
        hollowkit::Duration waited;
    };
    const Change released = [](FakeInstanceLock& lock) { lock.setHeldElsewhere(false); };
    const Change answering = [](FakeInstanceLock& lock) { lock.setHolderReply(HolderReply::cameForward); };
    const Change relauncherEnds = [](FakeInstanceLock& lock) {
        lock.setRunning(kRelauncher, false);
        lock.setHeldElsewhere(false);
    };
    const Change relauncherGone = [](FakeInstanceLock& lock) { lock.setRunning(kRelauncher, false); };
    const Change signal = [](FakeInstanceLock& lock) { lock.setSignalled(true); };
    const std::vector<Case> cases{
        {"a free lock", false, HolderReply::silent, std::nullopt, false, {}, InstanceClaim::run, 0, 0, 0s},
        {"a running program that answers", true, HolderReply::cameForward, std::nullopt, false, {},
         InstanceClaim::handedOver, 1, 0, 0s},
        {"a program that took the lock and listens a moment later", true, HolderReply::refused, std::nullopt, false,
         {{2, answering}}, InstanceClaim::handedOver, 3, 2, 200ms},
        {"a program ending lets go of its lock", true, HolderReply::refused, std::nullopt, false, {{3, released}},
         InstanceClaim::run, 3, 3, 300ms},
        {"a program that does not answer: one ask, for the few seconds", true, HolderReply::silent, std::nullopt,
         false, {}, InstanceClaim::silent, 1, 0, kWaits.answer},
        {"a program ending that keeps its lock", true, HolderReply::refused, std::nullopt, false, {},
         InstanceClaim::ending, kPausesInAnswerWait + 1, kPausesInAnswerWait, kWaits.answer},
        {"relaunched: the ending program is never asked, though it would answer", true, HolderReply::cameForward,
         kRelauncher, true, {{5, relauncherEnds}}, InstanceClaim::run, 0, 5, 500ms},
        {"relaunched after the program ended, another one holding the lock", true, HolderReply::cameForward,
         kRelauncher, false, {}, InstanceClaim::handedOver, 1, 0, 0s},
        {"relaunched: once the program ended, the one that took the lock is asked", true, HolderReply::cameForward,
         kRelauncher, true, {{2, relauncherGone}}, InstanceClaim::handedOver, 1, 2, 200ms},
        {"relaunched: the one that took the lock gets the few seconds from then", true, HolderReply::silent,
         kRelauncher, true, {{2, relauncherGone}}, InstanceClaim::silent, 1, 2, 200ms + kWaits.answer},
        {"relaunched: the program never ends", true, HolderReply::cameForward, kRelauncher, true, {},
         InstanceClaim::ending, 0, kPausesInRelaunchWait, kWaits.relaunch},
        {"relaunched: a signal ends the wait for the program's end", true, HolderReply::cameForward, kRelauncher,
         true, {{3, signal}}, InstanceClaim::interrupted, 0, 3, 300ms},
        {"a signal ends the wait for an ending program", true, HolderReply::refused, std::nullopt, false,
         {{4, signal}}, InstanceClaim::interrupted, 4, 4, 400ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hollowkit::ManualClock clock;
        FakeInstanceLock lock(clock);
        lock.setHeldElsewhere(c.heldElsewhere);
        lock.setHolderReply(c.holder);
        lock.setRunning(kRelauncher, c.relauncherRuns);
        // The relauncher, while it runs, is the one holding the lock.
        lock.setHolderPid(c.relauncherRuns ? kRelauncher : kOtherHolder);
        lock.setRunning(kOtherHolder, true);
        for (const auto& [pause, change] : c.atPause) lock.atPause(pause, change);
        const auto start = clock.now();
        EXPECT_EQ(claimInstance(lock, clock, c.relaunchedFrom, kWaits), c.expected);
        EXPECT_EQ(lock.holds(), c.expected == InstanceClaim::run);
        EXPECT_EQ(lock.asks(), c.asks);
        EXPECT_EQ(lock.pauses(), c.pauses);
        EXPECT_EQ(clock.now() - start, c.waited);
    }
}

// What decides a start's wait is the lock: a relaunch waits only for a
// relauncher that holds it, and only a holder that said it ends is told as
// ending; one that cannot be reached runs, and is told as not answering.
TEST(InstanceLockTest, ARelaunchWaitsOnlyForTheLocksHolderAndOnlyAnEndingHolderIsCalledEnding) {
    struct Case {
        const char* name;
        HolderReply holder;
        bool relauncherHolds;
        InstanceClaim expected;
        int asks;
        int pauses;
    };
    const Case cases[] = {
        {"relaunched from a process that runs but does not hold the lock: the holder is asked at once",
         HolderReply::cameForward, false, InstanceClaim::handedOver, 1, 0},
        {"relaunched from a process that holds the lock: not asked", HolderReply::cameForward, true,
         InstanceClaim::ending, 0, kPausesInRelaunchWait},
        {"a holder that cannot be reached: it does not answer", HolderReply::unreachable, false,
         InstanceClaim::silent, kPausesInAnswerWait + 1, kPausesInAnswerWait},
        {"a holder that said it ends: ending", HolderReply::refused, false, InstanceClaim::ending,
         kPausesInAnswerWait + 1, kPausesInAnswerWait},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hollowkit::ManualClock clock;
        FakeInstanceLock lock(clock);
        lock.setHeldElsewhere(true);
        lock.setHolderReply(c.holder);
        lock.setRunning(kRelauncher, true);
        lock.setRunning(kOtherHolder, true);
        lock.setHolderPid(c.relauncherHolds ? kRelauncher : kOtherHolder);
        EXPECT_EQ(claimInstance(lock, clock, kRelauncher, kWaits), c.expected);
        EXPECT_EQ(lock.asks(), c.asks);
        EXPECT_EQ(lock.pauses(), c.pauses);
    }
}

// A signal that came while the start asked a silent holder ends the start
// with nothing more asked or waited.
TEST(InstanceLockTest, ASignalDuringTheAskEndsTheStartAtOnce) {
    hollowkit::ManualClock clock;
    FakeInstanceLock lock(clock);
    lock.setHeldElsewhere(true);
    lock.setHolderReply(HolderReply::silent);
    lock.setSignalled(true);
    const auto start = clock.now();
    EXPECT_EQ(claimInstance(lock, clock, std::nullopt, kWaits), InstanceClaim::interrupted);
    EXPECT_EQ(lock.asks(), 1);
    EXPECT_EQ(lock.pauses(), 0);
    EXPECT_EQ(clock.now(), start);
}

}  // namespace
}  // namespace lumenhollow
