// Every control in the main window carries a name a screen reader can say:
// the icon-only ones take their help text, the titled ones their title;
// looked at control by control and through the window's accessible tree.

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "kit/unnamed_controls.h"
#include "ui_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

TEST(AccessibleNamesTest, EveryVisibleControlOfTheMainWindowHasAName) {
    struct Case {
        const char* name;
        bool usb;
        int pictureWidth;
        int pictureHeight;
        QSize window;
    };
    const Case cases[] = {
        {"USB, the bottom bar", true, 1920, 1080, {1152, 648}},
        {"Wi-Fi, the bottom bar", false, 1920, 1080, {1152, 648}},
        {"USB portrait, the tool rail", true, 1080, 1920, {457, 812}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h(c.usb);
        h.emit(CameraEvent::stats(picture(c.pictureWidth, c.pictureHeight)));
        h.main.advance(CameraModel::kSettleDelay);
        h.main.runUntilIdle();
        MainWindow& window = h.show();
        window.resize(c.window);
        QCoreApplication::processEvents();
        const NamelessControls found = namelessControls(window);
        // The bar's or the rail's tools, the record pill, the joystick, the gear and the pills at the least.
        EXPECT_GE(found.looked, 8);
        for (const std::string& control : found.nameless) ADD_FAILURE() << "no accessible name: " << control;
        // And as a screen reader walks the window.
        const NamelessControls inTree = namelessInAccessibleTree(window);
        EXPECT_GE(inTree.looked, 8);
        for (const std::string& control : inTree.nameless) ADD_FAILURE() << "nameless in the tree: " << control;
    }
}

}  // namespace
}  // namespace lumenhollow::test
