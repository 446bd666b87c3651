// Every control of the panels and popovers carries a name a screen reader
// can say (its title, or its help where it has none), in each state that
// shows other controls. Each popover is opened as a person opens it, with a
// press on its button, and read both control by control and through its
// accessible tree.

#include <QAccessible>
#include <QAccessibleInterface>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../kit/segmented_pickers.h"
#include "../kit/unnamed_controls.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/kit/switch_button.h"
#include "lumenhollow/ui/kit/usb_only.h"
#include "lumenhollow/ui/panels/screen_recording_button.h"
#include "lumenhollow/ui/panels/screen_recording_panel.h"
#include "lumenhollow/ui/window/camera_settings_button.h"
#include "lumenhollow/ui/window/scenes_button.h"
#include "panel_harness.h"

namespace lumenhollow::test {
namespace {

// How many controls each check looks at in a state: the tree holds a
// segmented picker's segments in place of the picker (a group, without a
// control's role); and how many segmented pickers show.
struct Controls {
    int widgets = 0;
    int inTree = 0;
    int pickers = 0;
};

// What the panels write when a choice is made.
std::string bubbleOf(const PanelHarness& rig) {
    const hollowkit::BubbleStyle& style = rig.state().bubbleStyle;
    return std::to_string(static_cast<int>(style.corner)) + "/" + std::to_string(static_cast<int>(style.size)) + "/" +
           std::to_string(static_cast<int>(style.shape)) + "/" + std::to_string(static_cast<int>(style.background));
}

// Both checks on an open popover, then each segmented picker in it read and
// pressed through its accessible tree.
void expectEveryControlNamed(ui::Popover& popover, Controls expected, PanelHarness& rig) {
    ASSERT_TRUE(popover.isPresented());
    QCoreApplication::processEvents();
    const NamelessControls widgets = namelessControls(popover);
    EXPECT_EQ(widgets.looked, expected.widgets);
    for (const std::string& control : widgets.nameless) ADD_FAILURE() << "no accessible name: " << control;
    const NamelessControls tree = namelessInAccessibleTree(popover);
    EXPECT_EQ(tree.looked, expected.inTree);
    for (const std::string& control : tree.nameless) ADD_FAILURE() << "nameless in the tree: " << control;
    const auto settle = [&rig] {
        rig.main.runUntilIdle();
        QCoreApplication::processEvents();
    };
    EXPECT_EQ(expectSegmentedPickersReachable(popover, settle, [&rig] { return bubbleOf(rig); }), expected.pickers);
}

// A press where a person would press the button, in its own window.
void pressOn(QWidget& button) {
    QWidget* top = button.window();
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, button.mapTo(top, button.rect().center()));
}

struct Rig : PanelHarness {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();

    explicit Rig(bool usb) : PanelHarness(usb) { window->resize(900, 700); }
    ~Rig() { window.reset(); }
    void show() {
        window->show();
        QCoreApplication::processEvents();
    }
};

TEST(PanelAccessibleNamesTest, TheScreenRecordingPanelInEachOfItsStates) {
    const struct {
        const char* name;
        std::function<void(Rig&)> set;
        Controls controls;
    } cases[] = {
        // The switch, four corners, three pickers (two, three and three
        // segments) and two boxes.
        {"recording the screen, a circle", [](Rig& r) { r.model->setRecordScreen(true); }, {10, 15, 3}},
        {"access refused: the card",
         [](Rig& r) {
             r.fakes.displays().setCanCapture(false);
             r.model->setRecordScreen(true);
         },
         {12, 17, 3}},
        {"two displays, a cutout and a last take",
         [](Rig& r) {
             r.model->setRecordScreen(true);
             r.fakes.displays().setDisplays(
                 {{1, 0, 0, 1920, 1080, true, false}, {2, 1920, 0, 1280, 1024, false, false}});
             r.model->refreshDisplays();
             hollowkit::BubbleStyle style = r.state().bubbleStyle;
             style.shape = hollowkit::BubbleShape::cutout;
             r.model->setBubbleStyle(style);
             r.model->setLastScreenTake(r.takeFolder("take", {"Screen.mov", "Camera.mov"}));
         },
         {10, 13, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(true);
        c.set(rig);
        rig.main.runUntilIdle();
        auto* button = new ScreenRecordingButton(*rig.modelSignals, rig.window.get());
        button->move(300, 600);
        rig.show();
        pressOn(*button);
        rig.main.runUntilIdle();
        auto* panel = qobject_cast<ScreenRecordingPanel*>(button->popover()->content());
        ASSERT_NE(panel, nullptr);
        QAccessibleInterface* onOff = QAccessible::queryAccessibleInterface(&panel->recordSwitch());
        ASSERT_NE(onOff, nullptr);
        EXPECT_EQ(onOff->text(QAccessible::Name), QStringLiteral("Record Screen and Camera"));
        expectEveryControlNamed(*button->popover(), c.controls, rig);
    }
}

TEST(PanelAccessibleNamesTest, TheCameraSettingsPanelWithEachExposureAndWhiteBalance) {
    const struct {
        const char* name;
        std::vector<const char*> switches;  // object names of controls pressed first
        Controls controls;
    } cases[] = {
        // Five pickers, the EV stepper's two buttons and the switch.
        {"automatic exposure and white balance", {}, {8, 8, 0}},
        {"white balance by kelvin", {"autoWhiteBalance"}, {9, 9, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(false);
        auto* button = new CameraSettingsButton(*rig.modelSignals, rig.window.get());
        button->move(300, 600);
        rig.show();
        pressOn(*button);
        rig.main.runUntilIdle();
        ui::Popover* popover = button->popover();
        ASSERT_TRUE(popover->isPresented());
        for (const char* name : c.switches) {
            auto* control = popover->findChild<QWidget*>(QString::fromUtf8(name));
            ASSERT_NE(control, nullptr) << name;
            pressOn(*control);
            rig.main.runUntilIdle();
        }
        expectEveryControlNamed(*popover, c.controls, rig);
    }
}

TEST(PanelAccessibleNamesTest, TheScenesPanelEmptyAndWithScenes) {
    for (const int scenes : {0, 2}) {
        SCOPED_TRACE(std::to_string(scenes) + " scenes");
        Rig rig(true);
        for (int i = 0; i < scenes; ++i) {
            rig.camera()->setPosition(hollowkit::CameraPosition{10.0 * i, 0, 100});
            rig.model->saveCurrentPositionAsScene();
        }
        rig.main.runUntilIdle();
        auto* button = new ScenesButton(*rig.modelSignals, false, rig.window.get());
        button->move(100, 20);
        rig.show();
        pressOn(*button);
        rig.main.runUntilIdle();
        // Save; each row's picture, name, go, update and delete, in the
        // tree as in the window.
        expectEveryControlNamed(*button->popover(), {1 + 5 * scenes, 1 + 5 * scenes, 0}, rig);
    }
}

TEST(PanelAccessibleNamesTest, TheNeedsUsbPopover) {
    Rig rig(false);
    auto* marker = new ui::UsbOnlyPill("square.grid.2x2", QStringLiteral("Scenes"),
                                       QStringLiteral("Scenes need the camera's angles, which only USB gives."),
                                       [] {}, rig.window.get());
    marker->move(100, 20);
    rig.show();
    pressOn(*marker);
    // Switch to USB.
    expectEveryControlNamed(*marker->popover(), {1, 1, 0}, rig);
}

}  // namespace
}  // namespace lumenhollow::test
