// The bubble compositor's person masks are seeded by the face it finds in
// the camera picture: a person who does not stand where a head is guessed
// without one is still kept, and the room around them treated.

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/imaging/grabcut_segmentation_backend.h"
#include "hollowkit/recording/bubble_compositor.h"
#include "hollowkit/testing/figure_face_backend.h"
#include "hollowkit/testing/imaging_test_pictures.h"

namespace hollowkit {
namespace {

constexpr int kBubbleCanvasWidth = 1280;
constexpr int kBubbleCanvasHeight = 720;

// A camera picture as the composer hands it over: decoded into 4:2:0 planes.
struct Planar420 {
    std::vector<uint8_t> y;
    std::vector<uint8_t> u;
    std::vector<uint8_t> v;
    Yuv420View view;
};

Planar420 planesOf(const VideoFrame& bgra) {
    const VideoFrame nv12 = toNv12(bgra);
    const int w = nv12.width();
    const int h = nv12.height();
    Planar420 out;
    out.y.resize(static_cast<size_t>(w) * h);
    out.u.resize(static_cast<size_t>(w / 2) * (h / 2));
    out.v.resize(out.u.size());
    for (int row = 0; row < h; ++row) {
        std::copy_n(nv12.planeData(0) + static_cast<size_t>(row) * nv12.stride(0), w,
                    out.y.data() + static_cast<size_t>(row) * w);
    }
    for (int row = 0; row < h / 2; ++row) {
        const uint8_t* uv = nv12.planeData(1) + static_cast<size_t>(row) * nv12.stride(1);
        for (int x = 0; x < w / 2; ++x) {
            out.u[static_cast<size_t>(row) * (w / 2) + x] = uv[2 * x];
            out.v[static_cast<size_t>(row) * (w / 2) + x] = uv[2 * x + 1];
        }
    }
    out.view.planes[0] = {out.y.data(), w, w, h};
    out.view.planes[1] = {out.u.data(), w / 2, w / 2, h / 2};
    out.view.planes[2] = {out.v.data(), w / 2, w / 2, h / 2};
    return out;
}

// Of the sure person, the share the bubble shows as recorded; of the sure
// room, the share it shows treated (blurred, replaced or left out).
struct Separation {
    double personKept = 0;
    double roomTreated = 0;
    int searches = 0;  // faces looked for
};

struct Tally {
    int person = 0;
    int personKept = 0;
    int room = 0;
    int roomTreated = 0;
    void add(int truth, bool kept) {
        if (truth == 1) {
            ++person;
            personKept += kept ? 1 : 0;
        } else if (truth == 0) {
            ++room;
            roomTreated += kept ? 0 : 1;
        }
    }
    Separation result(const FigureFaceBackend& finder) const {
        return {person ? static_cast<double>(personKept) / person : 0,
                room ? static_cast<double>(roomTreated) / room : 0, finder.callCount()};
    }
};

const BubbleLayer* layerOf(BubbleCompositor& compositor, const VideoFrame& frame, const Planar420* planes,
                           double seconds) {
    return planes ? compositor.bubbleLayer(planes->view, seconds, kBubbleCanvasWidth, kBubbleCanvasHeight)
                  : compositor.bubbleLayer(frame, seconds, kBubbleCanvasWidth, kBubbleCanvasHeight);
}

// A circle's face square, treated, against the same square with the room
// kept: inside the disc a pixel is kept when it matches the untreated one.
Separation circleSeparation(const FigureScene& scene, BubbleBackground background, const Planar420* planes) {
    auto faces = std::make_unique<FigureFaceBackend>();
    const FigureFaceBackend& finder = *faces;
    const BubbleStyle treatedStyle{BubbleCorner::bottomTrailing, BubbleSize::large, BubbleShape::circle, background};
    BubbleStyle keptStyle = treatedStyle;
    keptStyle.background = BubbleBackground::keep;
    BubbleCompositor treated(BubbleInstruction{treatedStyle, ZoomPath::none(), {}},
                             std::make_unique<GrabCutSegmentationBackend>(), 2, std::move(faces));
    BubbleCompositor kept(BubbleInstruction{keptStyle, ZoomPath::none(), {}},
                          std::make_unique<GrabCutSegmentationBackend>(), 2, std::make_unique<FigureFaceBackend>());
    const BubbleLayer* a = layerOf(treated, scene.frame, planes, 0);
    const BubbleLayer* b = layerOf(kept, scene.frame, planes, 0);
    if (a == nullptr || b == nullptr) return {};

    const PixelRect square = BubbleCompositor::bubbleSquare(treatedStyle, kBubbleCanvasWidth, kBubbleCanvasHeight);
    const int side = static_cast<int>(std::lround(square.width));
    const int reach = static_cast<int>(std::lround(square.x)) - a->x;
    const PixelRect crop = BubbleCompositor::circleCrop(
        {0, 0, static_cast<double>(scene.frame.width()), static_cast<double>(scene.frame.height())});
    const double scale = crop.width / side;
    Tally tally;
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            if (std::hypot(i + 0.5 - side / 2.0, j + 0.5 - side / 2.0) > side / 2.0 - 2) continue;
            const uint8_t* p = a->row(reach + j) + 4 * (reach + i);
            const uint8_t* q = b->row(reach + j) + 4 * (reach + i);
            const bool same = std::abs(p[0] - q[0]) <= 10 && std::abs(p[1] - q[1]) <= 10 && std::abs(p[2] - q[2]) <= 10;
            tally.add(sureTruth(scene.truth, crop.x + (i + 0.5) * scale, crop.y + (j + 0.5) * scale, 3 * scale), same);
        }
    }
    return tally.result(finder);
}

// A cut-out shows the person opaque and the room as no more than shadow;
// its faded sides and top are left out of the count.
Separation cutoutSeparation(const FigureScene& scene, const Planar420* planes) {
    auto faces = std::make_unique<FigureFaceBackend>();
    const FigureFaceBackend& finder = *faces;
    const BubbleStyle style{BubbleCorner::bottomLeading, BubbleSize::large, BubbleShape::cutout,
                            BubbleBackground::keep};
    BubbleCompositor compositor(BubbleInstruction{style, ZoomPath::none(), {}},
                                std::make_unique<GrabCutSegmentationBackend>(), 2, std::move(faces));
    const BubbleLayer* layer = layerOf(compositor, scene.frame, planes, 0);
    if (layer == nullptr) return {};
    const PixelRect square = BubbleCompositor::bubbleSquare(style, kBubbleCanvasWidth, kBubbleCanvasHeight);
    const int height = static_cast<int>(std::lround(square.height));
    const double scale = static_cast<double>(scene.frame.height()) / height;
    const int width = static_cast<int>(std::lround(scene.frame.width() / scale));
    const int reach = static_cast<int>(std::ceil(0.06 * height));
    const int fade = static_cast<int>(std::ceil(0.06 * height));
    Tally tally;
    for (int y = fade; y < height; ++y) {
        for (int x = fade; x < width - fade; ++x) {
            const uint8_t alpha = layer->row(reach + y)[4 * (reach + x) + 3];
            if (alpha > 110 && alpha < 200) continue;  // neither person nor shadow: an edge
            tally.add(sureTruth(scene.truth, (x + 0.5) * scale, (y + 0.5) * scale, 3 * scale), alpha >= 200);
        }
    }
    return tally.result(finder);
}

TEST(BubbleCompositorFaceTest, APersonAwayFromTheMiddleIsKeptAndTheRoomAroundTreated) {
    // The figure stands left of the middle with the head low, outside the
    // place a head is guessed without a face (x 0.44-0.56, y 0.13-0.40 of
    // the picture the bubble shows). For the circle, the picture is the
    // frame's middle square (x 280-1000 of 1280): x 0.39 of the frame is
    // 0.3 of the square.
    const FigureScene circleScene = makeFigureScene(1280, 720, FigurePlace{0.39, 0.47});
    const FigureScene cutoutScene = makeFigureScene(1280, 720, FigurePlace{0.3, 0.47});
    const Planar420 circlePlanes = planesOf(circleScene.frame);
    const Planar420 cutoutPlanes = planesOf(cutoutScene.frame);
    struct Case {
        const char* name;
        std::optional<BubbleBackground> circle;  // nothing: a cut-out
        bool fromPlanes;
    };
    for (const Case& c : {Case{"blurred circle, BGRA camera", BubbleBackground::blur, false},
                          Case{"removed circle, 4:2:0 camera", BubbleBackground::remove, true},
                          Case{"blurred circle, 4:2:0 camera", BubbleBackground::blur, true},
                          Case{"cut-out, 4:2:0 camera", std::nullopt, true},
                          Case{"cut-out, BGRA camera", std::nullopt, false}}) {
        SCOPED_TRACE(c.name);
        const Separation s = c.circle ? circleSeparation(circleScene, *c.circle, c.fromPlanes ? &circlePlanes : nullptr)
                                      : cutoutSeparation(cutoutScene, c.fromPlanes ? &cutoutPlanes : nullptr);
            EXPECT_EQ(s.searches, 1) << "the first frame is searched";
        EXPECT_GT(s.personKept, 0.9);
        EXPECT_GT(s.roomTreated, 0.9);
    }
}

TEST(BubbleCompositorFaceTest, FacesAreSearchedAFewTimesASecondAndAgainWhenTheMovieStartsOver) {
    const FigureScene scene = makeFigureScene(640, 360, FigurePlace{0.4, 0.45});
    const BubbleStyle style{BubbleCorner::bottomTrailing, BubbleSize::medium, BubbleShape::circle,
                            BubbleBackground::blur};
    auto faces = std::make_unique<FigureFaceBackend>();
    FigureFaceBackend* finder = faces.get();
    BubbleCompositor compositor(BubbleInstruction{style, ZoomPath::none(), {}},
                                std::make_unique<GrabCutSegmentationBackend>(), 1, std::move(faces));
    for (int frame = 0; frame < 60; ++frame) {
        ASSERT_NE(compositor.bubbleLayer(scene.frame, frame / 30.0, 640, 360), nullptr);
    }
    const int perTwoSeconds = finder->callCount();
    EXPECT_GE(perTwoSeconds, 2);
    EXPECT_LE(perTwoSeconds, 12) << "two seconds of 30 frames";
    ASSERT_NE(compositor.bubbleLayer(scene.frame, 0, 640, 360), nullptr);
    EXPECT_EQ(finder->callCount(), perTwoSeconds + 1) << "a movie drawn again is searched from its start";

    // With the room kept there is no mask, and no face is looked for.
    auto keptFaces = std::make_unique<FigureFaceBackend>();
    FigureFaceBackend* keptFinder = keptFaces.get();
    BubbleStyle keptStyle = style;
    keptStyle.background = BubbleBackground::keep;
    BubbleCompositor kept(BubbleInstruction{keptStyle, ZoomPath::none(), {}},
                          std::make_unique<GrabCutSegmentationBackend>(), 1, std::move(keptFaces));
    ASSERT_NE(kept.bubbleLayer(scene.frame, 0, 640, 360), nullptr);
    EXPECT_EQ(keptFinder->callCount(), 0);
}

}  // namespace
}  // namespace hollowkit
