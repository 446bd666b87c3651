#include "lumenhollow/ui/kit/full_screen.h"

#include <gtest/gtest.h>

namespace lumenhollow::ui {
namespace {

TEST(FullScreenTest, LeavingFullScreenGoesBackToWhatWasThereBefore) {
    const struct {
        const char* name;
        Qt::WindowStates current;
        Qt::WindowStates before;
        Qt::WindowStates next;
    } cases[] = {
        {"a normal window goes full screen", Qt::WindowNoState, Qt::WindowNoState, Qt::WindowFullScreen},
        {"a maximised one too, not maximised on top", Qt::WindowMaximized, Qt::WindowNoState, Qt::WindowFullScreen},
        {"back to maximised", Qt::WindowFullScreen, Qt::WindowMaximized, Qt::WindowMaximized},
        {"back to normal", Qt::WindowFullScreen, Qt::WindowNoState, Qt::WindowNoState},
        {"never back to minimised", Qt::WindowFullScreen, Qt::WindowMinimized | Qt::WindowMaximized,
         Qt::WindowMaximized},
        {"an active window stays active", Qt::WindowActive | Qt::WindowMaximized, Qt::WindowNoState,
         Qt::WindowActive | Qt::WindowFullScreen},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fullScreenToggled(c.current, c.before), c.next);
    }
}

}  // namespace
}  // namespace lumenhollow::ui
