// The menu bar's keys while one of the window's popovers is open. Each kind
// of popover is opened with a press on its button in the window, and each
// key goes to the popover's window as a person's key does: the menu's item
// acts once, no other item acts, and the popover stays open.

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../ui_harness.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/kit/usb_only.h"
#include "lumenhollow/ui/panels/screen_recording_button.h"
#include "lumenhollow/ui/shell/camera_menu_bar.h"
#include "lumenhollow/ui/shell/updater.h"
#include "lumenhollow/ui/window/camera_settings_button.h"
#include "lumenhollow/ui/window/scenes_button.h"
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

// The window with its menu bar, a live picture and one scene saved over
// USB, and then, unless `usb`, the camera over Wi-Fi.
struct Rig : WindowHarness {
    Updater updater{QStringLiteral("1.0"), [](const QString&, std::function<void()>) {}};
    CameraMenuBar* bar = nullptr;
    std::map<QAction*, int> triggered;

    explicit Rig(bool usb) : WindowHarness(true) {
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
    ~Rig() { window.reset(); }

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

}  // namespace
}  // namespace lumenhollow::test
