#include "lumenhollow/ui/window/usb_guide_watch.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "hollowkit/testing/manual_executor.h"

namespace lumenhollow {
namespace {

using hollowkit::ManualExecutor;

double secondsSince(const ManualExecutor& main, hollowkit::TimePoint start) {
    return std::chrono::duration<double>(main.clock().now() - start).count();
}

// Checks are answered from `present` in turn; the last answer repeats.
// A stop is the model's or the quit's; closed() is the user's.
TEST(UsbGuideWatchTest, LooksAtOnceThenEverySecondAndSwitchesUnlessStopped) {
    enum class End { none, stop, destroy, closed };
    const struct Case {
        const char* name;
        std::vector<bool> present;
        End end;
        double endAt;  // seconds after the start
        double runFor;
        int checks;
        std::optional<double> foundAt;
        std::optional<double> switchedAt;
    } cases[] = {
        {"already plugged in", {true}, End::none, 0, 5, 1, 0.0, 0.8},
        {"plugged in before the third look", {false, false, true}, End::none, 0, 6, 3, 2.0, 2.8},
        {"never plugged in", {false}, End::none, 0, 10.5, 11, std::nullopt, std::nullopt},
        {"Not Now while waiting", {false, false, true}, End::stop, 1.5, 10, 2, std::nullopt, std::nullopt},
        {"closed in the pause after the find", {true}, End::stop, 0.5, 5, 1, 0.0, std::nullopt},
        {"window gone in the pause", {true}, End::destroy, 0.79, 5, 1, 0.0, std::nullopt},
        {"closed after the switch", {true}, End::stop, 0.9, 5, 1, 0.0, 0.8},
        {"the user closes it while waiting", {false, false, true}, End::closed, 1.5, 10, 2, std::nullopt, std::nullopt},
        {"the user closes it in the pause", {true}, End::closed, 0.5, 5, 1, 0.0, 0.5},
        {"the user closes it after the switch", {true}, End::closed, 0.9, 5, 1, 0.0, 0.8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualExecutor main;
        const hollowkit::TimePoint start = main.clock().now();
        int checks = 0;
        std::optional<double> foundAt;
        std::vector<double> switches;
        auto watch = std::make_unique<UsbGuideWatch>(
            main, UsbGuideWatch::Hooks{[&] {
                                           const size_t at = std::min<size_t>(checks, c.present.size() - 1);
                                           ++checks;
                                           return c.present[at];
                                       },
                                       [&] { foundAt = secondsSince(main, start); },
                                       [&] { switches.push_back(secondsSince(main, start)); }});
        watch->start();
        EXPECT_EQ(checks, 1) << "the first look is at once";
        if (c.end != End::none) {
            main.advanceSeconds(c.endAt);
            switch (c.end) {
                case End::none: break;
                case End::stop: watch->stop(); break;
                case End::destroy: watch.reset(); break;
                case End::closed: watch->closed(); break;
            }
            main.advanceSeconds(c.runFor - c.endAt);
        } else {
            main.advanceSeconds(c.runFor);
        }
        EXPECT_EQ(checks, c.checks);
        EXPECT_EQ(foundAt.has_value(), c.foundAt.has_value());
        if (foundAt && c.foundAt) {
            EXPECT_NEAR(*foundAt, *c.foundAt, 1e-6);
        }
        ASSERT_EQ(switches.size(), c.switchedAt ? 1u : 0u) << "one switch at most";
        if (c.switchedAt) {
            EXPECT_NEAR(switches.front(), *c.switchedAt, 1e-6);
        }
        if (watch && (c.end != End::none || c.switchedAt)) {
            EXPECT_FALSE(watch->isWatching()) << "nothing left pending";
        }
    }
}

TEST(UsbGuideWatchTest, StartsOnceAndNeverAfterAStop) {
    ManualExecutor main;
    int checks = 0;
    UsbGuideWatch watch(main, {[&] { return ++checks, false; }, [] {}, [] {}});
    watch.start();
    watch.start();
    EXPECT_EQ(checks, 1);
    watch.stop();
    main.advanceSeconds(3);
    EXPECT_EQ(checks, 1);

    int late = 0;
    UsbGuideWatch stopped(main, {[&] { return ++late, true; }, [] {}, [] {}});
    stopped.stop();
    stopped.start();
    main.advanceSeconds(3);
    EXPECT_EQ(late, 0) << "a sheet closed before it looked never looks";
}

}  // namespace
}  // namespace lumenhollow
