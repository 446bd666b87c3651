// The live preview's person mask is seeded by the face the model's detector
// finds: the detector runs while the room is treated, tracking or not, and
// its face reaches the background preview.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "hollowkit/imaging/grabcut_segmentation_backend.h"
#include "hollowkit/testing/figure_face_backend.h"
#include "hollowkit/testing/imaging_test_pictures.h"
#include "model_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::BubbleBackground;
using hollowkit::BubbleShape;
using hollowkit::FigurePlace;
using hollowkit::FigureScene;
using hollowkit::VideoFrame;

// A live model whose preview segments with GrabCut and whose detector finds
// the test figure's head, both on the manual executor.
struct MaskHarness : FakeModelServices {
    std::shared_ptr<CountingVideoSink> displayLayer = std::make_shared<CountingVideoSink>();
    std::shared_ptr<CountingVideoSink> notchLayer = std::make_shared<CountingVideoSink>();
    hollowkit::FigureFaceBackend* finder = nullptr;  // owned by the detector
    hollowkit::testsupport::TempDir scratch;
    std::shared_ptr<CameraModel> model;

    explicit MaskHarness(bool recordScreen, const std::string& background) {
        settings.set("recordScreen", recordScreen);
        settings.set("bubbleBackground", background);
        ImagingFactory imaging = fakeImaging(main, [this] {
            auto backend = std::make_unique<hollowkit::FigureFaceBackend>();
            finder = backend.get();
            return backend;
        });
        imaging.backgroundPreview = [this] {
            return std::make_shared<hollowkit::BackgroundPreview>(
                std::make_unique<hollowkit::GrabCutSegmentationBackend>(), main);
        };
        model = CameraModel::create(
            services(displayLayer, notchLayer, scratch.path() / "Lumenhollow", std::move(imaging)));
        model->camera().start();
        main.runUntilIdle();
    }

    // Shows `frame` twice, a detection's interval apart, as a camera does.
    void show(const VideoFrame& frame) {
        for (int i = 0; i < 2; ++i) {
            cameras.latest()->deliverFrame(frame);
            main.runUntilIdle();
            main.advanceSeconds(0.1);
        }
    }
};

// Of the sure person, the share shown as filmed; of the sure room, the share
// shown treated.
struct Separation {
    double personKept = 0;
    double roomTreated = 0;
};

Separation separation(const FigureScene& scene, const VideoFrame& shown) {
    int person = 0;
    int kept = 0;
    int room = 0;
    int treated = 0;
    for (int y = 0; y < shown.height(); y += 2) {
        const uint8_t* a = shown.planeData(0) + static_cast<size_t>(y) * shown.stride(0);
        const uint8_t* b = scene.frame.planeData(0) + static_cast<size_t>(y) * scene.frame.stride(0);
        for (int x = 0; x < shown.width(); x += 2) {
            const int truth = sureTruth(scene.truth, x, y, 8);
            if (truth < 0) continue;
            const bool same = std::abs(a[4 * x] - b[4 * x]) <= 10 && std::abs(a[4 * x + 1] - b[4 * x + 1]) <= 10 &&
                              std::abs(a[4 * x + 2] - b[4 * x + 2]) <= 10;
            if (truth == 1) {
                ++person;
                kept += same ? 1 : 0;
            } else {
                ++room;
                treated += same ? 0 : 1;
            }
        }
    }
    return {person ? static_cast<double>(kept) / person : 0, room ? static_cast<double>(treated) / room : 0};
}

TEST(FaceTrackingMaskTest, APersonAwayFromTheMiddleIsKeptAndTheRoomAroundTreatedInThePreview) {
    // Left of the middle with the head low: outside the place a head is
    // guessed without a face (x 0.44-0.56, y 0.13-0.40 of the picture).
    const FigureScene scene = hollowkit::makeFigureScene(1280, 720, FigurePlace{0.3, 0.47});
    for (const char* background : {"Blur", "Remove"}) {
        SCOPED_TRACE(background);
        MaskHarness h(true, background);
        ASSERT_TRUE(h.model->backgroundPreview().isActive());
        EXPECT_FALSE(h.model->state().faceTracking);
        h.show(scene.frame);
        ASSERT_FALSE(h.displayLayer->frames().empty());
        const VideoFrame& shown = h.displayLayer->frames().back();
        ASSERT_EQ(shown.width(), 1280);
        ASSERT_EQ(shown.height(), 720);
        const Separation s = separation(scene, shown);
        EXPECT_GT(s.personKept, 0.9);
        EXPECT_GT(s.roomTreated, 0.9);
        EXPECT_EQ(h.model->state().trackedFace, std::nullopt) << "the mask's face is not tracking's face box";
    }
}

TEST(FaceTrackingMaskTest, FacesAreLookedForWhileTheRoomIsTreatedOrTheyAreTracked) {
    struct Case {
        const char* name;
        bool recordScreen;
        const char* background;
        std::optional<BubbleShape> shape;  // replaces the stored one
        bool detecting;
    };
    for (const Case& c : {Case{"screen off, blur", false, "Blur", std::nullopt, false},
                          Case{"screen on, room kept", true, "Keep", std::nullopt, false},
                          Case{"screen on, blur", true, "Blur", std::nullopt, true},
                          Case{"screen on, remove", true, "Remove", std::nullopt, true},
                          Case{"screen on, cut-out", true, "Keep", BubbleShape::cutout, true}}) {
        SCOPED_TRACE(c.name);
        MaskHarness h(c.recordScreen, c.background);
        if (c.shape) {
            hollowkit::BubbleStyle style = h.model->state().bubbleStyle;
            style.shape = *c.shape;
            h.model->setBubbleStyle(style);
        }
        EXPECT_EQ(h.model->faceDetector().enabled(), c.detecting);
        h.model->setRecordScreen(!c.recordScreen);
        EXPECT_EQ(h.model->faceDetector().enabled(), !c.recordScreen && h.model->backgroundPreview().isActive());
    }
}

TEST(FaceTrackingMaskTest, NoFaceIsLookedForOnceTheRoomIsNoLongerTreated) {
    const FigureScene scene = hollowkit::makeFigureScene(640, 360, FigurePlace{0.3, 0.47});
    MaskHarness h(true, "Remove");
    h.show(scene.frame);
    ASSERT_GT(h.finder->callCount(), 0);
    h.model->setRecordScreen(false);
    EXPECT_FALSE(h.model->faceDetector().enabled());
    const int seen = h.finder->callCount();
    h.show(scene.frame);
    EXPECT_EQ(h.finder->callCount(), seen) << "no face is looked for";
    EXPECT_TRUE(h.displayLayer->frames().back().sharesPixelsWith(scene.frame));
}

}  // namespace
}  // namespace lumenhollow::test
