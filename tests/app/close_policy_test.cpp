#include "lumenhollow/app/close_policy.h"

#include <gtest/gtest.h>

namespace lumenhollow {
namespace {

using After = AfterMainWindowClosed;

TEST(ClosePolicyTest, KeepsRunningOnlyWhereTheUserCanStillReachTheApplication) {
    const struct {
        CloseBehavior behavior;
        bool showInNotch;
        bool island;
        bool tray;
        After expected;
    } cases[] = {
        // "Quit Lumenhollow" quits whatever else is there.
        {CloseBehavior::quit, true, true, true, After::quit},
        {CloseBehavior::quit, true, true, false, After::quit},
        {CloseBehavior::quit, false, true, true, After::quit},
        {CloseBehavior::quit, false, false, false, After::quit},
        // The island turned off: quit, even with a tray.
        {CloseBehavior::keepInNotch, false, true, true, After::quit},
        {CloseBehavior::keepInNotch, false, false, true, After::quit},
        {CloseBehavior::keepInNotch, false, false, false, After::quit},
        // Kept in the island when it can be shown, tray or not.
        {CloseBehavior::keepInNotch, true, true, true, After::keepRunningInIsland},
        {CloseBehavior::keepInNotch, true, true, false, After::keepRunningInIsland},
        // No island on this desktop: the tray stands in; with neither, a
        // running process would be invisible, so it quits.
        {CloseBehavior::keepInNotch, true, false, true, After::keepRunningInTray},
        {CloseBehavior::keepInNotch, true, false, false, After::quit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "quit=" << (c.behavior == CloseBehavior::quit)
                                        << " showInNotch=" << c.showInNotch << " island=" << c.island
                                        << " tray=" << c.tray);
        EXPECT_EQ(afterMainWindowClosed({c.behavior, c.showInNotch, c.island, c.tray}), c.expected);
    }
}

}  // namespace
}  // namespace lumenhollow
