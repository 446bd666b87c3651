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

// The gear in a shown host, over a model on a USB-like or a wireless-like camera.
struct GearHarness : ModelHarness {
    std::unique_ptr<ModelSignals> modelSignals;
    std::unique_ptr<QWidget> host;
    SettingsMenu* gear = nullptr;

    explicit GearHarness(bool usb) {
        cameras.setPocketConnected(usb);
        createAndStart();
        modelSignals = std::make_unique<ModelSignals>(model);
        host = std::make_unique<QWidget>();
        gear = new SettingsMenu(*modelSignals, host.get());
        host->show();
        settings.clearWrites();
    }
    ~GearHarness() {
        host.reset();
        modelSignals.reset();
    }
    QMenu& menu() const { return gear->menu(); }
    bool enabled(std::vector<QString> path) const {
        QAction* action = gearAction(menu(), std::move(path));
        return action && action->isEnabled();
    }
    void cardRecording(bool on) {
        emit(hollowkit::CameraEvent::cardRecording(hollowkit::CardRecordingState{on, false, 0}));
    }
};

TEST(SettingsMenu, TheWindowsTopBarCarriesTheGear) {
    WindowHarness h(false);
    MainWindow& window = h.show();
    auto* gear = qobject_cast<SettingsMenu*>(window.chrome().slotWidget(ChromeColumn::Slot::settingsMenu));
    ASSERT_NE(gear, nullptr);
    QTest::mousePress(gear, Qt::LeftButton, {}, gear->rect().center());
    ASSERT_TRUE(gear->menu().isVisible());
    gearAction(gear->menu(), {"Countdown", "10 seconds"})->trigger();
    EXPECT_EQ(h.state().countdownSeconds, 10);
    gear->menu().hide();
}

TEST(SettingsMenu, ChoosingARowSetsTheModelWhichStoresIt) {
    const auto text = [](const char* value) { return SettingsValue(std::string(value)); };
    const struct {
        std::vector<QString> path;
        const char* key;
        SettingsValue stored;
    } cases[] = {
        {{"Recording Codec", "H.264"}, "videoCodec", text("H.264")},
        {{"Countdown", "5 seconds"}, "recordCountdown", SettingsValue(int64_t{5})},
        {{"Notch", "Show in the Notch"}, "showInNotch", SettingsValue(false)},
        {{"Notch", "Content", "Controls Only"}, "notchContent", text("Controls Only")},
        {{"Notch", "Open", "When Clicked"}, "notchTrigger", text("When Clicked")},
        {{"Notch", "Closing the Window", "Quit Lumenhollow"}, "closeBehavior", text("Quit Lumenhollow")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        GearHarness h(true);
        h.gear->openMenu();
        QAction* row = gearAction(h.menu(), c.path);
        ASSERT_NE(row, nullptr);
        row->trigger();
        // The store is written from the model's state: the model changed too.
        EXPECT_EQ(h.settings.writes(), (std::vector<SettingsWrite>{{c.key, c.stored}}));
        h.menu().hide();
    }
}

TEST(SettingsMenu, AnOpenMenuFollowsARecordingStartingAndEnding) {
    GearHarness h(false);
    h.gear->openMenu();
    gearAction(h.menu(), {"Record To", "Mac"})->trigger();
    EXPECT_EQ(h.state().recordTarget, RecordTarget::mac);
    h.cardRecording(true);
    EXPECT_FALSE(h.enabled({"Recording Codec"}) || h.enabled({"Record To"}));
    EXPECT_TRUE(h.enabled({"Countdown"}) && h.enabled({"Notch"}) && h.enabled({"Open Output Folder"}));
    h.cardRecording(false);
    EXPECT_TRUE(h.enabled({"Recording Codec"}) && h.enabled({"Record To"}));
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
    h.menu().hide();
}

TEST(NotchSettingsMenu, FilledFromTheLiveModelWhenItOpensAndQuietOnceItIsGone) {
    QWidget host;
    NotchSettingsMenu* notch = nullptr;
    {
        ModelHarness h;
        h.createAndStart();
        notch = new NotchSettingsMenu(h.model, &host);
        EXPECT_EQ(notch->title(), QStringLiteral("Notch"));
        for (NotchTrigger trigger : {NotchTrigger::click, NotchTrigger::hover}) {
            h.model->setNotchTrigger(trigger);
            Q_EMIT notch->aboutToShow();
            EXPECT_EQ(gearChecked(*notch, {"Open"}), QStringList{QString::fromUtf8(toString(trigger))});
        }
        h.model->setShowInNotch(false);
        Q_EMIT notch->aboutToShow();
        h.settings.clearWrites();
        gearAction(*notch, {"Show in the Notch"})->trigger();
        EXPECT_EQ(h.settings.writes(), (std::vector<SettingsWrite>{{"showInNotch", SettingsValue(true)}}));
    }
    // The rows hold the model weakly: chosen after it is gone, they do nothing.
    gearAction(*notch, {"Closing the Window", "Quit Lumenhollow"})->trigger();
    Q_EMIT notch->aboutToShow();
    EXPECT_EQ(notch->actions().size(), 4);
}

}  // namespace
}  // namespace lumenhollow::test
