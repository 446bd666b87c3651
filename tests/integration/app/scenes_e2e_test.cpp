// Scenes on the demonstration application's own window, driven through the
// X server as a user drives them: three saved by the save key, the first
// dragged below the last in the scenes popover, one renamed by a click into
// its name and typing, recalled by a click on its play button and by Alt
// with its digit (the simulator's gimbal arrives where the scene was saved),
// one deleted.

#include <QLineEdit>
#include <QListWidget>
#include <QToolButton>

#include <cmath>

#include "demo_run.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/panels/scene_row.h"
#include "lumenhollow/ui/panels/scenes_panel.h"
#include "lumenhollow/ui/window/main_window.h"
#include "lumenhollow/ui/window/scenes_button.h"

namespace lumenhollow::test {
namespace {

class ScenesEndToEndTest : public testing::Test {
protected:
    bool prepare(DemoRun& run) {
        const std::string why = run.prepare({});
        if (why.empty()) return true;
        skipped_ = why;
        return false;
    }
    std::string skipped_;
};

ScenesButton* visibleScenesButton(MainWindow& window) {
    for (ScenesButton* button : window.findChildren<ScenesButton*>()) {
        if (button->isVisible()) return button;
    }
    return nullptr;
}

QPoint centreOf(const QWidget& widget) {
    return widget.mapToGlobal(widget.rect().center());
}

std::vector<std::string> sceneNames(const RunningDemo& demo) {
    std::vector<std::string> names;
    for (const CameraScene& scene : demo.model().state().scenes) names.push_back(scene.name);
    return names;
}

bool arrivedAt(hollowkit::SceneCamera& camera, const hollowkit::LensPose& target) {
    const hollowkit::LensPose now = camera.pose();
    return std::abs(now.panDegrees - target.panDegrees) < 0.5 && std::abs(now.tiltDegrees - target.tiltDegrees) < 0.5;
}

// Opens the popover with a click on the scenes button; its panel.
ScenesPanel* openScenes(RunningDemo& demo) {
    ScenesButton* button = visibleScenesButton(demo.window());
    if (!button) return nullptr;
    // A click that lands while the X server still hands the pointer back from
    // a popup just closed can go unseen; a person clicks again, so does this.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!demo.clickAt(centreOf(*button))) return nullptr;
        if (demo.waitFor([&] { return button->popover() && button->popover()->isPresented(); }, 10s)) {
            return qobject_cast<ScenesPanel*>(button->popover()->content());
        }
    }
    return nullptr;
}

TEST_F(ScenesEndToEndTest, SaveReorderRenameRecallAndDeleteOnTheDemonstrationCamera) {
    DemoRun run;
    if (!prepare(run)) GTEST_SKIP() << skipped_;
    const int status = run.run([](RunningDemo& demo) {
        ASSERT_TRUE(demo.waitForLive()) << demo.model().state().statusText;
        const std::shared_ptr<hollowkit::SceneCamera> camera = demo.camera();
        ASSERT_TRUE(camera && camera->supportsPositioning());
        ASSERT_TRUE(demo.focusWindow());

        // Three saved with the save key, each where the gimbal then stood.
        const hollowkit::LensPose poses[] = {{30, 5, 100}, {-40, -10, 100}, {12, 20, 100}};
        for (size_t i = 0; i < std::size(poses); ++i) {
            camera->setPose(poses[i]);
            ASSERT_TRUE(demo.typeKeys("ctrl+shift+s"));
            ASSERT_TRUE(demo.waitFor([&] { return demo.model().state().scenes.size() == i + 1; })) << i;
        }
        const std::vector<CameraScene> saved = demo.model().state().scenes;
        for (size_t i = 0; i < saved.size(); ++i) {
            EXPECT_NEAR(saved[i].position.pan, poses[i].panDegrees, 0.5) << i;
            EXPECT_NEAR(saved[i].position.tilt, poses[i].tiltDegrees, 0.5) << i;
        }

        // The first row dragged below the last: it becomes the third scene and the badges renumber.
        ScenesPanel* panel = openScenes(demo);
        ASSERT_NE(panel, nullptr);
        ASSERT_EQ(panel->rows().size(), 3u);
        const QWidget& first = *panel->rows().front();
        const QWidget& last = *panel->rows().back();
        const QPoint grip = first.mapToGlobal(QPoint(first.width() / 2, first.height() - 6));
        const QPoint below = last.mapToGlobal(QPoint(last.width() / 2, last.height() - 4));
        ASSERT_TRUE(demo.dragAlong(grip, below));
        ASSERT_TRUE(demo.waitFor([&] { return demo.model().state().scenes.back().id == saved[0].id; }, 10s))
            << testing::PrintToString(sceneNames(demo));
        const std::vector<std::string> reordered{saved[1].name, saved[2].name, saved[0].name};
        EXPECT_EQ(sceneNames(demo), reordered);
        ASSERT_TRUE(demo.waitFor([&] { return panel->rows().size() == 3 && panel->rows().back()->index() == 2; }));
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(panel->rows()[i]->index(), static_cast<int>(i));

        // Renamed by a click into the first row's name and typing, Return
        // committing it; spaces trimmed.
        auto* name = panel->rows().front()->findChild<QLineEdit*>("name");
        ASSERT_TRUE(name);
        ASSERT_TRUE(demo.clickAt(centreOf(*name)));
        ASSERT_TRUE(demo.waitFor([&] { return name->hasFocus(); }, 10s));
        ASSERT_TRUE(demo.typeKeys("ctrl+a"));
        ASSERT_TRUE(demo.typeText("  Window seat "));
        ASSERT_TRUE(demo.typeKeys("Return"));
        ASSERT_TRUE(demo.waitFor([&] { return demo.model().state().scenes.front().name == "Window seat"; }, 10s))
            << demo.model().state().scenes.front().name;

        // Recalled by a click on the second row's play button: saved third, at poses[2].
        camera->setPose({});
        auto* go = panel->rows()[1]->findChild<QToolButton*>("go");
        ASSERT_NE(go, nullptr);
        ASSERT_TRUE(demo.clickAt(centreOf(*go)));
        EXPECT_TRUE(demo.waitFor([&] { return arrivedAt(*camera, poses[2]); }))
            << "pan " << camera->pose().panDegrees << ", tilt " << camera->pose().tiltDegrees;

        // Recalled by Alt+3 from the window: the dragged scene, saved first.
        ASSERT_TRUE(demo.typeKeys("Escape"));
        ASSERT_TRUE(demo.waitFor([&] { return !demo.model().state().showScenes; }));
        ASSERT_TRUE(demo.focusWindow());
        camera->setPose({});
        ASSERT_TRUE(demo.typeKeys("alt+3"));
        EXPECT_TRUE(demo.waitFor([&] { return arrivedAt(*camera, poses[0]); }))
            << "pan " << camera->pose().panDegrees << ", tilt " << camera->pose().tiltDegrees;

        // Deleted from a reopened popover: the renamed scene goes, the others close up.
        panel = openScenes(demo);
        ASSERT_NE(panel, nullptr);
        ASSERT_EQ(panel->rows().size(), 3u);
        auto* remove = panel->rows().front()->findChild<QToolButton*>("delete");
        ASSERT_NE(remove, nullptr);
        ASSERT_TRUE(demo.clickAt(centreOf(*remove)));
        ASSERT_TRUE(demo.waitFor([&] { return demo.model().state().scenes.size() == 2; }, 10s));
        EXPECT_EQ(sceneNames(demo), (std::vector<std::string>{saved[2].name, saved[0].name}));
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace lumenhollow::test
