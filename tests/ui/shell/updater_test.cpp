#include "lumenhollow/ui/shell/updater.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace lumenhollow {
namespace {

// Keeps each message shown until the test dismisses it.
struct ShownMessages {
    std::vector<QString> texts;
    std::vector<std::function<void()>> dismissals;

    Updater::ShowMessage show() {
        return [this](const QString& text, std::function<void()> dismissed) {
            texts.push_back(text);
            dismissals.push_back(std::move(dismissed));
        };
    }
};

TEST(UpdaterTest, ACheckSaysWhereUpdatesComeFromAndCannotStackASecondMessage) {
    ShownMessages shown;
    Updater updater(QStringLiteral("2.4.1"), shown.show());
    QSignalSpy changes(&updater, &Updater::canCheckForUpdatesChanged);
    EXPECT_TRUE(updater.canCheckForUpdates());

    // Each step: what the user does, then whether the menu item may check
    // and how many messages have been shown.
    enum class Act { check, dismiss };
    const struct {
        const char* name;
        Act act;
        bool canCheck;
        size_t shown;
    } steps[] = {
        {"a check shows the message", Act::check, false, 1},
        {"a second check while it is up shows nothing", Act::check, false, 1},
        {"dismissing it allows the next check", Act::dismiss, true, 1},
        {"which shows the message again", Act::check, false, 2},
    };
    size_t dismissed = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.act == Act::check) {
            updater.checkForUpdates();
        } else {
            shown.dismissals.at(dismissed++)();
        }
        EXPECT_EQ(updater.canCheckForUpdates(), step.canCheck);
        EXPECT_EQ(shown.texts.size(), step.shown);
    }
    // One notice per change of the flag, carrying the new value.
    ASSERT_EQ(changes.size(), 3);
    EXPECT_EQ(changes.at(0).at(0).toBool(), false);
    EXPECT_EQ(changes.at(1).at(0).toBool(), true);
    EXPECT_EQ(changes.at(2).at(0).toBool(), false);
    EXPECT_EQ(shown.texts.front(),
              QStringLiteral("Lumenhollow 2.4.1. Updates come from your system's package manager."));
}

TEST(UpdaterTest, AMessageDismissedAfterTheUpdaterIsGoneIsHarmless) {
    ShownMessages shown;
    {
        Updater updater(QStringLiteral("1.0"), shown.show());
        updater.checkForUpdates();
    }
    ASSERT_EQ(shown.dismissals.size(), 1u);
    shown.dismissals.front()();
}

}  // namespace
}  // namespace lumenhollow
