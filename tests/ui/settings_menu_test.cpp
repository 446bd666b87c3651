#include "lumenhollow/ui/window/settings_menu.h"

#include <QAction>
#include <QMenu>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hollowkit/testing/test_support.h"
#include "lumenhollow/ui/window/chrome_column.h"
#include "lumenhollow/ui/window/notch_settings_menu.h"
#include "ui_harness.h"

namespace lumenhollow::test {
namespace {

// The row at `path` (submenu titles, then the row), or null.
QAction* gearAction(const QMenu& menu, std::vector<QString> path) {
    const QMenu* current = &menu;
    for (size_t i = 0; i < path.size(); ++i) {
        QAction* found = nullptr;
        for (QAction* action : current->actions()) {
            if (action->text() == path[i]) found = action;
        }
        if (!found || i + 1 == path.size()) return found;
        current = found->menu();
        if (!current) return nullptr;
    }
    return nullptr;
}

// The checked rows of the submenu at `path`.
QStringList gearChecked(const QMenu& menu, std::vector<QString> path) {
    QStringList checked;
    QAction* picker = gearAction(menu, std::move(path));
    if (!picker || !picker->menu()) return {QStringLiteral("<missing>")};
    for (QAction* row : picker->menu()->actions()) {
        if (row->isChecked()) checked << row->text();
    }
    return checked;
}

// The gear in a shown host, over a model on a USB-like or a wireless-like
// camera whose output folder is a temporary one.
struct GearHarness : ModelHarness {
    hollowkit::testsupport::TempDir temp;
    std::unique_ptr<ModelSignals> modelSignals;
    std::unique_ptr<QWidget> host;
    SettingsMenu* gear = nullptr;

    explicit GearHarness(bool usb) {
        outputFolder = temp.path() / "Lumenhollow";
        cameras.setPocketConnected(usb);
        createAndStart();
        model->dismissSheets();
        modelSignals = std::make_unique<ModelSignals>(model);
        host = std::make_unique<QWidget>();
        host->resize(200, 100);
        gear = new SettingsMenu(*modelSignals, host.get());
        gear->move(160, 10);
        host->show();
        settings.clearWrites();
    }
    ~GearHarness() {
        host.reset();
        modelSignals.reset();
    }

    QMenu& menu() const { return gear->menu(); }
    void startCardRecording(bool on) {
        emit(hollowkit::CameraEvent::cardRecording(hollowkit::CardRecordingState{on, false, 0}));
    }
};

struct GearStateCase {
    const char* name;
    bool usb;
    bool recording;
    bool codecEnabled;
    bool targetShown;
};

TEST(SettingsMenu, OpenMenuShowsWhatTheConnectionAndRecordingAllow) {
    const std::vector<GearStateCase> cases{
        {"usb idle", true, false, true, false},
        {"usb recording", true, true, false, false},
        {"wifi idle", false, false, true, true},
        {"wifi recording", false, true, false, true},
    };
    for (const GearStateCase& c : cases) {
        SCOPED_TRACE(c.name);
        GearHarness h(c.usb);
        if (c.recording) h.startCardRecording(true);
        h.gear->openMenu();
        ASSERT_TRUE(h.menu().isVisible());
        QAction* codec = gearAction(h.menu(), {"Recording Codec"});
        ASSERT_NE(codec, nullptr);
        EXPECT_EQ(codec->isEnabled(), c.codecEnabled);
        QAction* target = gearAction(h.menu(), {"Record To"});
        EXPECT_EQ(target != nullptr, c.targetShown);
        if (target) {
            EXPECT_EQ(target->isEnabled(), c.codecEnabled);
        }
        for (const char* always : {"Countdown", "Notch", "Import LUT…", "Open Output Folder"}) {
            QAction* row = gearAction(h.menu(), {QString::fromUtf8(always)});
            ASSERT_NE(row, nullptr) << always;
            EXPECT_TRUE(row->isEnabled()) << always;
        }
        h.menu().hide();
    }
}

TEST(SettingsMenu, APressOnTheGearOpensItsMenu) {
    GearHarness h(true);
    EXPECT_EQ(h.gear->toolTip(), QStringLiteral("Settings"));
    EXPECT_EQ(h.gear->symbol(), "gearshape");
    QTest::mousePress(h.gear, Qt::LeftButton, {}, h.gear->rect().center());
    EXPECT_TRUE(h.menu().isVisible());
    EXPECT_NE(gearAction(h.menu(), {"Countdown", "Off"}), nullptr);
    h.menu().hide();
}

TEST(SettingsMenu, TheWindowsTopBarCarriesTheGear) {
    WindowHarness h(false);
    MainWindow& window = h.show();
    auto* gear = qobject_cast<SettingsMenu*>(window.chrome().slotWidget(ChromeColumn::Slot::settingsMenu));
    ASSERT_NE(gear, nullptr);
    EXPECT_TRUE(gear->isVisible());
    QTest::mousePress(gear, Qt::LeftButton, {}, gear->rect().center());
    ASSERT_TRUE(gear->menu().isVisible());
    gearAction(gear->menu(), {"Countdown", "10 seconds"})->trigger();
    EXPECT_EQ(h.state().countdownSeconds, 10);
    gear->menu().hide();
}

struct GearRowCase {
    const char* name;
    bool usb;
    std::vector<QString> path;
    std::vector<std::string> keysWritten;
    std::function<bool(const PublishedState&)> applied;
};

TEST(SettingsMenu, ChoosingARowSetsTheModelWhichStoresIt) {
    const std::vector<GearRowCase> cases{
        {"codec", true, {"Recording Codec", "H.264"}, {"videoCodec"},
         [](const PublishedState& s) { return s.codec == hollowkit::VideoCodec::h264; }},
        {"countdown", true, {"Countdown", "5 seconds"}, {"recordCountdown"},
         [](const PublishedState& s) { return s.countdownSeconds == 5; }},
        {"record target", false, {"Record To", "Mac"}, {},
         [](const PublishedState& s) { return s.recordTarget == RecordTarget::mac; }},
        {"hide the island", true, {"Notch", "Show in the Notch"}, {"showInNotch"},
         [](const PublishedState& s) { return !s.showInNotch; }},
        {"content", true, {"Notch", "Content", "Controls Only"}, {"notchContent"},
         [](const PublishedState& s) { return s.notchContent == NotchContent::controls; }},
        {"trigger", true, {"Notch", "Open", "When Clicked"}, {"notchTrigger"},
         [](const PublishedState& s) { return s.notchTrigger == NotchTrigger::click; }},
        {"closing", false, {"Notch", "Closing the Window", "Quit Lumenhollow"}, {"closeBehavior"},
         [](const PublishedState& s) { return s.closeBehavior == CloseBehavior::quit; }},
    };
    for (const GearRowCase& c : cases) {
        SCOPED_TRACE(c.name);
        GearHarness h(c.usb);
        h.gear->openMenu();
        QAction* row = gearAction(h.menu(), c.path);
        ASSERT_NE(row, nullptr);
        row->trigger();
        EXPECT_EQ(h.settings.writtenKeys(), c.keysWritten);
        EXPECT_TRUE(c.applied(h.state()));
        h.menu().hide();
    }
}

TEST(SettingsMenu, OpenOutputFolderReachesTheDesktop) {
    GearHarness h(true);
    h.gear->openMenu();
    gearAction(h.menu(), {"Open Output Folder"})->trigger();
    EXPECT_EQ(h.desktop.calls(), std::vector<std::string>{"open " + h.model->outputFolder().string()});
    h.menu().hide();
}

TEST(SettingsMenu, AStoredCountdownOfSevenChecksNoRowUntilOneIsChosen) {
    GearHarness h(true);
    h.model->setCountdownSeconds(7);
    h.gear->openMenu();
    EXPECT_EQ(gearChecked(h.menu(), {"Countdown"}), QStringList());
    gearAction(h.menu(), {"Countdown", "3 seconds"})->trigger();
    EXPECT_EQ(h.state().countdownSeconds, 3);
    h.menu().hide();
    h.gear->openMenu();
    EXPECT_EQ(gearChecked(h.menu(), {"Countdown"}), QStringList{"3 seconds"});
    h.menu().hide();
}

TEST(SettingsMenu, AnOpenMenuFollowsARecordingStartingAndEnding) {
    GearHarness h(false);
    h.gear->openMenu();
    QAction* codec = gearAction(h.menu(), {"Recording Codec"});
    ASSERT_TRUE(codec && codec->isEnabled());
    h.startCardRecording(true);
    EXPECT_FALSE(codec->isEnabled());
    EXPECT_FALSE(gearAction(h.menu(), {"Record To"})->isEnabled());
    EXPECT_TRUE(gearAction(h.menu(), {"Countdown"})->isEnabled());
    h.startCardRecording(false);
    EXPECT_TRUE(gearAction(h.menu(), {"Recording Codec"})->isEnabled());
    h.menu().hide();
}

TEST(SettingsMenu, AnOpenMenuGainsTheTargetPickerWhenTheWirelessCameraArrives) {
    GearHarness h(true);
    h.gear->openMenu();
    EXPECT_EQ(gearAction(h.menu(), {"Record To"}), nullptr);
    h.model->selectConnection(ConnectionMode::wireless);
    h.main.runUntilIdle();
    ASSERT_TRUE(h.model->camera().supportsCameraSettings());
    // The new camera reports as it starts; the menu hears of it then.
    h.emit(hollowkit::CameraEvent::status("Connecting to the camera"));
    EXPECT_NE(gearAction(h.menu(), {"Record To", "Camera microSD"}), nullptr);
    EXPECT_TRUE(h.gear->shownSnapshot().supportsCameraSettings);
    h.menu().hide();
}

TEST(SettingsMenu, AnOpenMenuKeepsItsRowsUntilTheSnapshotChanges) {
    GearHarness h(true);
    h.gear->openMenu();
    QAction* countdown = gearAction(h.menu(), {"Countdown"});
    // Values outside the snapshot leave the menu as it is.
    h.model->zoomStep(1);
    h.model->setAutoZoom(false);
    h.main.runUntilIdle();
    EXPECT_EQ(gearAction(h.menu(), {"Countdown"}), countdown);
    // A setting of the snapshot changed elsewhere moves the check mark.
    h.model->setCloseBehavior(CloseBehavior::quit);
    EXPECT_EQ(gearChecked(h.menu(), {"Notch", "Closing the Window"}), QStringList{"Quit Lumenhollow"});
    EXPECT_EQ(h.gear->shownSnapshot().closeBehavior, CloseBehavior::quit);
    h.menu().hide();
}

TEST(NotchSettingsMenu, FilledFromTheLiveModelWhenItOpens) {
    ModelHarness h;
    h.createAndStart();
    QWidget host;
    NotchSettingsMenu notch(h.model, &host);
    EXPECT_EQ(notch.title(), QStringLiteral("Notch"));
    h.model->setNotchTrigger(NotchTrigger::click);
    h.model->setShowInNotch(false);
    Q_EMIT notch.aboutToShow();
    EXPECT_EQ(gearChecked(notch, {"Open"}), QStringList{"When Clicked"});
    EXPECT_FALSE(gearAction(notch, {"Show in the Notch"})->isChecked());

    // Changed elsewhere: the next opening shows it.
    h.model->setNotchTrigger(NotchTrigger::hover);
    Q_EMIT notch.aboutToShow();
    EXPECT_EQ(gearChecked(notch, {"Open"}), QStringList{"When Hovering"});

    h.settings.clearWrites();
    gearAction(notch, {"Show in the Notch"})->trigger();
    EXPECT_TRUE(h.state().showInNotch);
    EXPECT_EQ(h.settings.writes(), (std::vector<SettingsWrite>{{"showInNotch", SettingsValue(true)}}));
}

TEST(NotchSettingsMenu, FillsAMenuOfSomeoneElseAndOutlivesTheModelQuietly) {
    QWidget host;
    QMenu tray(&host);
    {
        ModelHarness h;
        h.createAndStart();
        fillNotchSettingsMenu(tray, h.model);
        gearAction(tray, {"Content", "Controls Only"})->trigger();
        EXPECT_EQ(h.state().notchContent, NotchContent::controls);
    }
    // The model is gone: a row chosen now changes nothing and does not crash.
    gearAction(tray, {"Closing the Window", "Quit Lumenhollow"})->trigger();
    EXPECT_EQ(tray.actions().size(), 4);
}

}  // namespace
}  // namespace lumenhollow::test
