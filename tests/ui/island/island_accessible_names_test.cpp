// Every control of the open island carries a name a screen reader can say.

#include <gtest/gtest.h>

#include "island_preview_harness.h"
#include "unnamed_controls.h"

namespace lumenhollow::ui {
namespace {

using test::PreviewHarness;

TEST(IslandAccessibleNamesTest, EveryVisibleControlOfTheOpenIslandHasAName) {
    for (const bool usb : {true, false}) {
        SCOPED_TRACE(usb ? "USB" : "Wi-Fi");
        PreviewHarness h(usb);
        for (int i = 1; i <= 2; ++i) {
            h.camera()->setPosition(hollowkit::CameraPosition{10.0 * i, 0, 100});
            h.model->saveCurrentPositionAsScene();
        }
        h.main.runUntilIdle();
        h.open();
        const lumenhollow::test::NamelessControls found = lumenhollow::test::namelessControls(h.controller->view());
        // Record, photo, centre, the zoom stepper and its halves, pin, main window at the least.
        EXPECT_GE(found.looked, 7);
        for (const std::string& control : found.nameless) ADD_FAILURE() << "no accessible name: " << control;
        const lumenhollow::test::NamelessControls inTree =
            lumenhollow::test::namelessInAccessibleTree(h.controller->view());
        EXPECT_GE(inTree.looked, 5);
        for (const std::string& control : inTree.nameless) ADD_FAILURE() << "nameless in the tree: " << control;
    }
}

}  // namespace
}  // namespace lumenhollow::ui
