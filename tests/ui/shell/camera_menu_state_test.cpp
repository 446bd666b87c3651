#include "lumenhollow/ui/shell/camera_menu_state.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace lumenhollow {
namespace {

struct Situation {
    bool picture;
    bool positioning;
    bool recording;
    bool busy;
    bool tracking;
    bool recordScreen;
};

MenuFacts factsOf(const Situation& s) {
    MenuFacts facts;
    facts.livePicture = s.picture;
    facts.positioning = s.positioning;
    facts.recording = s.recording;
    facts.busy = s.busy;
    facts.faceTracking = s.tracking;
    facts.recordScreen = s.recordScreen;
    return facts;
}

TEST(CameraMenuStateTest, TitlesAndEnabledStatesFollowPicturePositioningRecordingAndBusy) {
    struct Case {
        const char* name;
        Situation situation;
        CommandState recording;
        CommandState recordScreen;
        bool photo;
        CommandState tracking;
        bool positioningItems;  // "Auto Frame" and "Save Current Position as Scene"
    };
    const std::vector<Case> cases{
        {"USB, no picture yet", {false, true, false, false, false, false},
         {"Start Recording", false}, {"Record Screen Too", true, false}, false, {"Start Face Tracking", false}, true},
        {"USB with a picture", {true, true, false, false, false, true},
         {"Start Recording", true}, {"Record Screen Too", true, true}, true, {"Start Face Tracking", true}, true},
        {"a recording whose picture dropped can still be stopped", {false, true, true, true, false, false},
         {"Stop Recording", true}, {"Record Screen Too", false, false}, false, {"Start Face Tracking", false}, true},
        {"a composition under way keeps the screen option shown but fixed", {true, true, false, true, false, true},
         {"Start Recording", true}, {"Record Screen Too", false, true}, true, {"Start Face Tracking", true}, true},
        {"tracking with a picture", {true, true, false, false, true, false},
         {"Start Recording", true}, {"Record Screen Too", true, false}, true, {"Stop Face Tracking", true}, true},
        {"Wi-Fi with a picture", {true, false, false, false, false, false},
         {"Start Recording", true}, {"Record Screen Too", true, false}, true, {"Start Face Tracking", false}, false},
        {"Wi-Fi without a picture", {false, false, false, false, false, false},
         {"Start Recording", false}, {"Record Screen Too", true, false}, false, {"Start Face Tracking", false}, false},
        {"Wi-Fi, recording", {true, false, true, true, false, false},
         {"Stop Recording", true}, {"Record Screen Too", false, false}, true, {"Start Face Tracking", false}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CameraMenuState menu = cameraMenuState(factsOf(c.situation));
        EXPECT_EQ(menu.recording, c.recording);
        EXPECT_EQ(menu.recordScreen, c.recordScreen);
        EXPECT_EQ(menu.takePhoto, (CommandState{"Take Photo", c.photo}));
        EXPECT_EQ(menu.faceTracking, c.tracking);
        EXPECT_EQ(menu.autoFrame.enabled, c.positioningItems);
        EXPECT_EQ(menu.saveScene.enabled, c.positioningItems);
    }
}

TEST(CameraMenuStateTest, CheckForUpdatesFollowsTheUpdater) {
    for (const bool canCheck : {true, false}) {
        MenuFacts facts;
        facts.canCheckForUpdates = canCheck;
        EXPECT_EQ(cameraMenuState(facts).checkForUpdates, (CommandState{"Check for Updates…", canCheck}));
    }
}

TEST(CameraMenuStateTest, SceneItemsTakeAltWithTheirPositionUpToTheNinth) {
    struct Case {
        const char* name;
        std::vector<std::string> names;
        std::vector<SceneItemState> items;
    };
    std::vector<std::string> twelve;
    std::vector<SceneItemState> twelveItems;
    const Qt::Key digits[] = {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4, Qt::Key_5,
                              Qt::Key_6, Qt::Key_7, Qt::Key_8, Qt::Key_9};
    for (int i = 1; i <= 12; ++i) {
        twelve.push_back("S" + std::to_string(i));
        twelveItems.push_back({"Go to S" + std::to_string(i), i <= 9 ? QKeySequence(Qt::ALT | digits[i - 1]) : QKeySequence()});
    }
    const std::vector<Case> cases{
        {"no scenes: no items", {}, {}},
        {"three scenes in list order, equal names kept apart",
         {"Desk", "Door", "Desk"},
         {{"Go to Desk", QKeySequence(Qt::ALT | Qt::Key_1)},
          {"Go to Door", QKeySequence(Qt::ALT | Qt::Key_2)},
          {"Go to Desk", QKeySequence(Qt::ALT | Qt::Key_3)}}},
        {"the tenth and later have no key", twelve, twelveItems},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MenuFacts facts;
        facts.sceneNames = c.names;
        EXPECT_EQ(cameraMenuState(facts).scenes, c.items);
    }
}

TEST(CameraMenuStateTest, ActionTextsCarryNoMnemonic) {
    struct Case {
        const char* text;
        const char* shown;  // as a menu draws it
    };
    const std::vector<Case> cases{
        {"Go to R&D", "Go to R&D"},
        {"Go to &1", "Go to &1"},
        {"Go to Q&&A", "Go to Q&&A"},
        {"Quit Lumenhollow", "Quit Lumenhollow"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const QString text = actionText(c.text);
        // A mnemonic would take an Alt key from the scenes.
        EXPECT_TRUE(QKeySequence::mnemonic(text).isEmpty());
        QString drawn = text;
        drawn.replace(QLatin1String("&&"), QLatin1String("&"));
        EXPECT_EQ(drawn, QString::fromUtf8(c.shown));
    }
}

TEST(CameraMenuStateTest, EveryCommandKeyIsDistinct) {
    // Two commands on one key would make Qt refuse both as ambiguous.
    std::vector<QKeySequence> seen;
    for (int i = 1; i <= static_cast<int>(CameraMenuCommand::openOutputFolder); ++i) {
        const QList<QKeySequence> keys = commandShortcuts(static_cast<CameraMenuCommand>(i));
        ASSERT_FALSE(keys.isEmpty()) << i;
        for (const QKeySequence& key : keys) {
            EXPECT_EQ(std::count(seen.begin(), seen.end(), key), 0) << key.toString().toStdString();
            seen.push_back(key);
        }
    }
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(std::count(seen.begin(), seen.end(), sceneShortcut(i)), 0);
        seen.push_back(sceneShortcut(i));
    }
}

}  // namespace
}  // namespace lumenhollow
