// The menu bar's keys while one of the window's popovers is open. Each kind
// of popover is opened with a press on its button in the window, and each
// key goes where a person's key goes (the open popup holds the keyboard):
// the menu's item acts once, no other item acts, and the popover stays
// open, also while the model is busy and the popover's button waits
// disabled. A key that opens a sheet closes the popover instead, and the
// sheet takes the keyboard.

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "../ui_harness.h"
#include "hollowkit/testing/fake_recording_system.h"
#include "lumenhollow/testing/fake_power_assertion.h"
#include "lumenhollow/testing/fake_take_composer.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/kit/usb_only.h"
#include "lumenhollow/ui/panels/screen_recording_button.h"
#include "lumenhollow/ui/shell/camera_menu_bar.h"
#include "lumenhollow/ui/shell/updater.h"
#include "lumenhollow/ui/window/camera_settings_button.h"
#include "lumenhollow/ui/window/scenes_button.h"
#include "lumenhollow/ui/window/sheet_host.h"
#include "lumenhollow/ui/window/tool_actions.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

enum class PopoverKind { cameraSettings, screenRecording, scenes, usbOnly };

const char* kindName(PopoverKind kind) {
    switch (kind) {
        case PopoverKind::cameraSettings: return "camera settings";
        case PopoverKind::screenRecording: return "screen recording";
        case PopoverKind::scenes: return "scenes";
        case PopoverKind::usbOnly: return "needs USB";
    }
    return "";
}

// What makes the model busy: screen takes on fake displays and capture,
// compositions the test answers, and a count of the work that keeps the
// computer awake, which every movie and take holds until it has ended.
struct BusyServices {
    hollowkit::FakeRecordingSystem fakes;
    hollowkit::RecordingSystem system = fakes.take();
    std::shared_ptr<TakeCompositions> compositions = std::make_shared<TakeCompositions>();
    FakePowerAssertion activity;
    hollowkit::testsupport::TempDir takes;

    void add(CameraModelServices& services) {
        services.recordingSystem = &system;
        services.takeComposers = FakeTakeComposer::factory(compositions);
        services.powerAssertion = &activity;
    }
};

// The ways the model is busy: "Record Screen Too" is disabled and the
// screen-recording button waits.
enum class Busy { recording, takeStarting, composing };

const char* busyName(Busy busy) {
    switch (busy) {
        case Busy::recording: return "recording";
        case Busy::takeStarting: return "a take starting";
        case Busy::composing: return "composing a take";
    }
    return "";
}

// The window with its menu bar, a live picture and one scene saved over
// USB, and then, unless `usb`, the camera over Wi-Fi.
struct Rig : BusyServices, WindowHarness {
    Updater updater{QStringLiteral("1.0"), [](const QString&, std::function<void()>) {}};
    CameraMenuBar* bar = nullptr;
    std::map<QAction*, int> triggered;

    explicit Rig(bool usb) : WindowHarness(true, true, nullptr, [this](CameraModelServices& s) { add(s); }) {
        model->saveCurrentPositionAsScene();
        main.runUntilIdle();
        if (!usb) {
            cameras.setOptions(ConnectionMode::wireless, {});
            model->selectConnection(ConnectionMode::wireless);
            main.runUntilIdle();
        }
        emit(CameraEvent::stats(picture(1920, 1080)));
        main.advance(CameraModel::kSettleDelay);
        main.runUntilIdle();
        window = std::make_unique<MainWindow>(*modelSignals, *feed);
        bar = new CameraMenuBar(*modelSignals, updater, window->toolActions().fullScreen(), window.get());
        window->setMenuBar(bar);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get(), 5000));
        window->resize(1152, 648);
        QCoreApplication::processEvents();
        countTriggers(bar->actions());
    }
    // Every movie, take and composition ends before the model goes.
    ~Rig() {
        window.reset();
        model->stopRecording({});
        main.waitFor(
            [&] {
                for (size_t i = 0; i < compositions->size(); ++i) {
                    compositions->finish(i, hollowkit::unexpected(hollowkit::ComposeError::exportFailed("ended")));
                }
                return activity.active() == 0;
            },
            std::chrono::seconds(60));
    }

    // Runs a countdown to its end on the virtual clock.
    void countDown() {
        main.runUntilIdle();
        for (int step = 0; step < 30 && state().countdownRemaining; ++step) {
            main.advance(CameraModel::kCountdownStep);
            main.runUntilIdle();
        }
    }

    void beBusy(Busy busy) {
        switch (busy) {
            case Busy::recording:
                model->toggleRecording();
                countDown();
                // The camera's card (over Wi-Fi) records once the camera says so.
                if (!model->isRecording()) emit(CameraEvent::cardRecording({true, false, 0}));
                break;
            case Busy::takeStarting:
                model->setRecordScreen(true);
                model->toggleRecording();
                countDown();
                break;
            case Busy::composing: {
                const std::filesystem::path take = takes.path() / "take";
                std::filesystem::create_directories(take);
                std::ofstream(take / "Screen.mov") << "";
                std::ofstream(take / "Camera.mov") << "";
                model->rebuildScreenTake(take);
                main.waitFor([&] { return compositions->size() == 1; }, std::chrono::seconds(30));
                break;
            }
        }
        main.runUntilIdle();
        QCoreApplication::processEvents();
    }

    // Where a person's key goes: to the open popup, which holds the
    // keyboard, else to the window that has the focus.
    static QWindow* keyWindow() {
        if (QWidget* popup = QApplication::activePopupWidget()) return popup->windowHandle();
        return QGuiApplication::focusWindow();
    }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers) {
        QWindow* target = keyWindow();
        ASSERT_NE(target, nullptr);
        QTest::keyClick(target, key, modifiers);
        main.runUntilIdle();
        QCoreApplication::processEvents();
    }

    size_t moves() const {
        const std::vector<std::string> all = commands();
        return static_cast<size_t>(
            std::count_if(all.begin(), all.end(), [](const std::string& line) { return line.rfind("move ", 0) == 0; }));
    }

    void countTriggers(const QList<QAction*>& actions) {
        for (QAction* action : actions) {
            if (action->menu()) {
                countTriggers(action->menu()->actions());
            } else if (!action->isSeparator()) {
                QObject::connect(action, &QAction::triggered, window.get(), [this, action] { ++triggered[action]; });
            }
        }
    }

    template <typename Button>
    QWidget* shown() const {
        for (Button* button : window->findChildren<Button*>()) {
            if (button->isVisible()) return button;
        }
        return nullptr;
    }
    QWidget* buttonOf(PopoverKind kind) const {
        switch (kind) {
            case PopoverKind::cameraSettings: return shown<CameraSettingsButton>();
            case PopoverKind::screenRecording: return shown<ScreenRecordingButton>();
            case PopoverKind::scenes: return shown<ScenesButton>();
            case PopoverKind::usbOnly: return shown<ui::UsbOnlyMarker>();
        }
        return nullptr;
    }
    // A press on the button where a person presses it, in the window.
    ui::Popover* open(PopoverKind kind) {
        QWidget* button = buttonOf(kind);
        if (!button) return nullptr;
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {},
                          button->mapTo(window.get(), button->rect().center()));
        main.runUntilIdle();
        return qobject_cast<ui::Popover*>(QApplication::activePopupWidget());
    }
};

TEST(PopoverMenuKeys, TheMenuKeysActOnceWhileEachPopoverIsOpen) {
    struct Key {
        const char* name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::function<QAction*(const CameraMenuBar&)> item;  // null: no item acts
    };
    const Key record{"Ctrl+R", Qt::Key_R, Qt::ControlModifier,
                     [](const CameraMenuBar& b) { return &b.action(CameraMenuCommand::toggleRecording); }};
    const Key firstScene{"Alt+1", Qt::Key_1, Qt::AltModifier,
                         [](const CameraMenuBar& b) { return b.sceneActions().at(0); }};
    const Key flip{"Ctrl+Shift+F", Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier,
                   [](const CameraMenuBar& b) { return &b.action(CameraMenuCommand::flipGimbal); }};
    const Key recordScreen{"Ctrl+Shift+R", Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier,
                           [](const CameraMenuBar& b) { return &b.action(CameraMenuCommand::recordScreen); }};
    // Over Wi-Fi auto framing is off: its key does nothing, and not in the popover either.
    const Key autoFrameOff{"Ctrl+F, disabled", Qt::Key_F, Qt::ControlModifier, nullptr};
    const struct {
        PopoverKind kind;
        bool usb;
        std::vector<Key> keys;
    } cases[] = {
        {PopoverKind::cameraSettings, false, {record, firstScene, flip, autoFrameOff}},
        {PopoverKind::screenRecording, true, {record, firstScene, flip, recordScreen}},
        {PopoverKind::scenes, true, {record, firstScene, flip}},
        {PopoverKind::usbOnly, false, {record, firstScene, flip, autoFrameOff}},
    };
    for (const auto& c : cases) {
        for (const Key& k : c.keys) {
            SCOPED_TRACE(std::string(kindName(c.kind)) + ", " + k.name);
            Rig rig(c.usb);
            ui::Popover* popover = rig.open(c.kind);
            ASSERT_NE(popover, nullptr);
            ASSERT_TRUE(popover->isPresented());
            const size_t moves = rig.moves();
            QTest::keyClick(popover->windowHandle(), k.key, k.modifiers);
            rig.main.runUntilIdle();
            std::map<QAction*, int> expected;
            if (k.item) expected[k.item(*rig.bar)] = 1;
            EXPECT_EQ(rig.triggered, expected);
            // One recall: nothing else in the window acted on the key too.
            if (c.usb && k.item && k.key == Qt::Key_1) {
                EXPECT_EQ(rig.moves() - moves, 1u);
            }
            EXPECT_TRUE(popover->isPresented());
            EXPECT_EQ(QApplication::activePopupWidget(), popover);
        }
    }
}

// Each popover against each way the model is busy: the menu's keys reach
// their items whatever state the popover's button is in (the
// screen-recording button waits disabled), an item acts only while it is
// enabled ("Record Screen Too" is not while busy), and the popover stays
// open. Record comes last: it stops a recording or a starting take, and
// does nothing to a composition.
TEST(PopoverMenuKeys, TheMenuKeysReachTheirItemsFromEachPopoverWhileTheModelIsBusy) {
    struct Key {
        const char* name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::function<QAction*(const CameraMenuBar&)> item;  // null: no item acts
    };
    const Key keys[] = {
        {"Ctrl+Shift+R, disabled while busy", Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier, nullptr},
        {"Alt+1", Qt::Key_1, Qt::AltModifier, [](const CameraMenuBar& b) { return b.sceneActions().at(0); }},
        {"Ctrl+Shift+F", Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier,
         [](const CameraMenuBar& b) { return &b.action(CameraMenuCommand::flipGimbal); }},
        {"Ctrl+S", Qt::Key_S, Qt::ControlModifier,
         [](const CameraMenuBar& b) { return &b.action(CameraMenuCommand::takePhoto); }},
        {"Ctrl+R", Qt::Key_R, Qt::ControlModifier,
         [](const CameraMenuBar& b) { return &b.action(CameraMenuCommand::toggleRecording); }},
    };
    const struct {
        PopoverKind kind;
        bool usb;
    } popovers[] = {
        {PopoverKind::cameraSettings, false},
        {PopoverKind::screenRecording, true},
        {PopoverKind::scenes, true},
        {PopoverKind::usbOnly, false},
    };
    for (const auto& p : popovers) {
        for (const Busy busy : {Busy::recording, Busy::takeStarting, Busy::composing}) {
            SCOPED_TRACE(std::string(kindName(p.kind)) + ", " + busyName(busy));
            Rig rig(p.usb);
            QWidget* button = rig.buttonOf(p.kind);
            ui::Popover* popover = rig.open(p.kind);
            ASSERT_NE(popover, nullptr);
            rig.beBusy(busy);
            ASSERT_TRUE(rig.model->isBusy());
            ASSERT_TRUE(popover->isPresented());
            const bool recordScreenWas = rig.state().recordScreen;
            if (p.kind == PopoverKind::screenRecording) {
                EXPECT_FALSE(button->isEnabled()) << "the button waits while the popover is open";
            }
            for (const Key& k : keys) {
                SCOPED_TRACE(k.name);
                rig.triggered.clear();
                rig.press(k.key, k.modifiers);
                std::map<QAction*, int> expected;
                if (k.item) expected[k.item(*rig.bar)] = 1;
                EXPECT_EQ(rig.triggered, expected);
                EXPECT_TRUE(popover->isPresented());
                EXPECT_EQ(QApplication::activePopupWidget(), popover);
            }
            EXPECT_EQ(rig.state().recordScreen, recordScreenWas);
            // What the last key, Record, did.
            switch (busy) {
                case Busy::recording:
                    if (p.usb) {
                        EXPECT_FALSE(rig.model->isRecording());
                    } else {
                        const std::vector<std::string> sent = rig.commands();
                        EXPECT_EQ(std::count(sent.begin(), sent.end(), "setCardRecording off"), 1);
                    }
                    break;
                case Busy::takeStarting: EXPECT_FALSE(rig.state().isStartingScreen); break;
                case Busy::composing:
                    EXPECT_TRUE(rig.state().composeProgress.has_value());
                    EXPECT_FALSE(rig.model->isRecording());
                    break;
            }
        }
    }
}

// The way a person records from the screen-recording options over USB
// with "Record Screen Too" off: each Ctrl+R starts or stops the movie while
// the options stay open, their button waiting disabled while it records.
TEST(PopoverMenuKeys, CtrlRStartsAndStopsRecordingFromTheScreenRecordingOptions) {
    Rig rig(true);
    ASSERT_FALSE(rig.state().recordScreen);
    QWidget* button = rig.buttonOf(PopoverKind::screenRecording);
    ui::Popover* popover = rig.open(PopoverKind::screenRecording);
    ASSERT_NE(popover, nullptr);
    for (const bool recording : {true, false, true, false}) {
        SCOPED_TRACE(recording ? "start" : "stop");
        rig.press(Qt::Key_R, Qt::ControlModifier);
        rig.countDown();
        EXPECT_EQ(rig.model->isRecording(), recording);
        EXPECT_EQ(button->isEnabled(), !recording);
        EXPECT_TRUE(popover->isPresented());
        EXPECT_EQ(QApplication::activePopupWidget(), popover);
    }
    EXPECT_TRUE(rig.state().showScreenOptions);
    // Escape still closes the options.
    rig.press(Qt::Key_Escape, {});
    EXPECT_FALSE(popover->isPresented());
    EXPECT_FALSE(rig.state().showScreenOptions);
}

// Ctrl+/ from an open popover, whatever its button's state: the shortcuts
// sheet opens, the popover closes, and the next key (Return) is the
// sheet's, which it closes.
TEST(PopoverMenuKeys, ASheetOpenedFromAPopoverClosesItAndTakesTheKeyboard) {
    const struct {
        PopoverKind kind;
        bool usb;
        std::optional<Busy> busy;
    } cases[] = {
        {PopoverKind::cameraSettings, false, std::nullopt},
        {PopoverKind::screenRecording, true, std::nullopt},
        {PopoverKind::screenRecording, true, Busy::recording},
        {PopoverKind::scenes, true, std::nullopt},
        {PopoverKind::usbOnly, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(kindName(c.kind)) + (c.busy ? std::string(", ") + busyName(*c.busy) : ""));
        Rig rig(c.usb);
        ui::Popover* popover = rig.open(c.kind);
        ASSERT_NE(popover, nullptr);
        if (c.busy) rig.beBusy(*c.busy);
        ASSERT_TRUE(popover->isPresented());
        rig.press(Qt::Key_Slash, Qt::ControlModifier);
        EXPECT_EQ(rig.window->sheets().shown(), std::optional<SheetKind>(SheetKind::shortcuts));
        EXPECT_FALSE(popover->isPresented());
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        EXPECT_EQ(Rig::keyWindow(), rig.window->windowHandle());
        EXPECT_FALSE(rig.state().showScenes || rig.state().showScreenOptions || rig.state().showCameraSettings)
            << "the popover's flag went with it";
        rig.press(Qt::Key_Return, {});
        EXPECT_FALSE(rig.window->sheets().shown().has_value());
        EXPECT_FALSE(rig.state().showShortcuts);
        EXPECT_EQ(rig.model->isRecording(), c.busy == Busy::recording) << "no key reached the picture";
    }
}

}  // namespace
}  // namespace lumenhollow::test
