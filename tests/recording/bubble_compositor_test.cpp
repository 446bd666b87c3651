#include "hollowkit/recording/bubble_compositor.h"

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/testing/fake_segmentation_backend.h"

namespace hollowkit {
namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

struct Bgra {
    int b = 0;
    int g = 0;
    int r = 0;
};

VideoFrame solidFrame(int width, int height, Bgra color) {
    auto frame = WritableVideoFrame::allocate(PixelFormat::bgra, width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.planeData(0) + static_cast<size_t>(y) * frame.stride(0);
        for (int x = 0; x < width; ++x) {
            const std::array<uint8_t, 4> p{static_cast<uint8_t>(color.b), static_cast<uint8_t>(color.g),
                                           static_cast<uint8_t>(color.r), 255};
            std::memcpy(row + 4 * x, p.data(), 4);
        }
    }
    return std::move(frame).freeze({});
}

// Black with a white square of `side` pixels in the middle.
VideoFrame squareFrame(int width, int height, int side) {
    auto frame = WritableVideoFrame::allocate(PixelFormat::bgra, width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.planeData(0) + static_cast<size_t>(y) * frame.stride(0);
        for (int x = 0; x < width; ++x) {
            const bool inside = std::abs(2 * x + 1 - width) < side && std::abs(2 * y + 1 - height) < side;
            const uint8_t v = inside ? 255 : 0;
            const std::array<uint8_t, 4> p{v, v, v, 255};
            std::memcpy(row + 4 * x, p.data(), 4);
        }
    }
    return std::move(frame).freeze({});
}

// A busy room: 4-pixel black and white checks.
VideoFrame checkerFrame(int width, int height) {
    auto frame = WritableVideoFrame::allocate(PixelFormat::bgra, width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.planeData(0) + static_cast<size_t>(y) * frame.stride(0);
        for (int x = 0; x < width; ++x) {
            const uint8_t v = ((x / 4 + y / 4) % 2) != 0 ? 230 : 20;
            const std::array<uint8_t, 4> p{v, v, v, 255};
            std::memcpy(row + 4 * x, p.data(), 4);
        }
    }
    return std::move(frame).freeze({});
}

Bgra pixel(const WritableVideoFrame& frame, int x, int y) {
    const uint8_t* p = const_cast<WritableVideoFrame&>(frame).planeData(0) +
                       static_cast<size_t>(y) * frame.stride(0) + static_cast<size_t>(x) * 4;
    return {p[0], p[1], p[2]};
}

int luma(Bgra p) {
    return (p.r * 2 + p.g * 5 + p.b) / 8;
}

WritableVideoFrame canvas(int width = kWidth, int height = kHeight) {
    return WritableVideoFrame::allocate(PixelFormat::bgra, width, height);
}

bool samePixels(const WritableVideoFrame& a, const WritableVideoFrame& b) {
    for (int y = 0; y < a.height(); ++y) {
        if (std::memcmp(const_cast<WritableVideoFrame&>(a).planeData(0) + static_cast<size_t>(y) * a.stride(0),
                        const_cast<WritableVideoFrame&>(b).planeData(0) + static_cast<size_t>(y) * b.stride(0),
                        static_cast<size_t>(a.width()) * 4) != 0) {
            return false;
        }
    }
    return true;
}

BubbleStyle circle(BubbleBackground background, BubbleSize size = BubbleSize::large) {
    return {BubbleCorner::bottomTrailing, size, BubbleShape::circle, background};
}

BubbleStyle cutout() {
    return {BubbleCorner::bottomLeading, BubbleSize::large, BubbleShape::cutout, BubbleBackground::keep};
}

// A compositor whose person finder the test scripts.
struct Rig {
    explicit Rig(BubbleStyle style, ZoomPath zoom = ZoomPath::none(), std::vector<FrameSizeChange> frames = {}) {
        auto backend = std::make_unique<FakeSegmentationBackend>();
        fake = backend.get();
        compositor = std::make_unique<BubbleCompositor>(BubbleInstruction{style, std::move(zoom), std::move(frames)},
                                                        std::move(backend), 2);
    }
    FakeSegmentationBackend* fake = nullptr;
    std::unique_ptr<BubbleCompositor> compositor;
};

TEST(BubbleCompositorGeometryTest, CameraContentRect) {
    const PixelRect frame{0, 0, 1920, 1080};
    struct Case {
        std::optional<FrameSizeChange> size;
        PixelRect expected;
    };
    const Case cases[] = {
        {std::nullopt, frame},
        {FrameSizeChange{0, 1920, 1080}, frame},
        {FrameSizeChange{0, 1080, 1920}, {663.25, 11, 593.5, 1058}},
        {FrameSizeChange{0, 1921, 1080}, frame},  // fitted 1920 x 1079.4: within 2 pixels
        {FrameSizeChange{0, 0, 1080}, frame},
    };
    for (const Case& c : cases) {
        const PixelRect r = BubbleCompositor::cameraContentRect(frame, c.size ? &*c.size : nullptr);
        EXPECT_NEAR(r.x, c.expected.x, 1e-9);
        EXPECT_NEAR(r.y, c.expected.y, 1e-9);
        EXPECT_NEAR(r.width, c.expected.width, 1e-9);
        EXPECT_NEAR(r.height, c.expected.height, 1e-9);
    }
    // 1920 x 1082 fits as 1916.5 x 1080: off by 3.5, so inset.
    const FrameSizeChange taller{0, 1920, 1082};
    EXPECT_NE(BubbleCompositor::cameraContentRect(frame, &taller), frame);
}

TEST(BubbleCompositorGeometryTest, CircleCropRingAndSquare) {
    const PixelRect portrait = BubbleCompositor::circleCrop({100, 50, 600, 1000});
    EXPECT_EQ(portrait, (PixelRect{100, 130, 600, 600}));  // 0.2 x 400 below the top
    EXPECT_EQ(BubbleCompositor::circleCrop({0, 0, 1920, 1080}), (PixelRect{420, 0, 1080, 1080}));

    EXPECT_EQ(BubbleCompositor::ringWidth(200), 2);
    EXPECT_EQ(BubbleCompositor::ringWidth(300), 4);
    EXPECT_EQ(BubbleCompositor::ringWidth(0), 2);

    // Bottom right, medium, 1920 x 1080: (1575, 43) from the bottom left.
    EXPECT_EQ(BubbleCompositor::bubbleSquare(circle(BubbleBackground::keep, BubbleSize::medium), 1920, 1080),
              (PixelRect{1575, 1080 - 43 - 302, 302, 302}));
}

TEST(BubbleCompositorGeometryTest, SizeInForceIsTheLastChangeSoFar) {
    const std::vector<FrameSizeChange> changes{{0, 1920, 1080}, {2.0, 1080, 1920}};
    EXPECT_EQ(BubbleCompositor::sizeInForce(changes, -1), nullptr);
    EXPECT_EQ(BubbleCompositor::sizeInForce(changes, 1.0), &changes[0]);
    EXPECT_EQ(BubbleCompositor::sizeInForce(changes, 2.0), &changes[1]);
    EXPECT_EQ(BubbleCompositor::sizeInForce({}, 2.0), nullptr);
}

TEST(BubbleCompositorTest, UnzoomedScreenFillsTheCanvasUnchanged) {
    Rig rig(circle(BubbleBackground::keep));
    const VideoFrame screen = checkerFrame(kWidth, kHeight);
    auto out = canvas();
    ASSERT_TRUE(rig.compositor->render(&screen, nullptr, 0.5, out));
    auto expected = WritableVideoFrame::allocate(PixelFormat::bgra, kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        std::memcpy(expected.planeData(0) + static_cast<size_t>(y) * expected.stride(0),
                    screen.planeData(0) + static_cast<size_t>(y) * screen.stride(0), kWidth * 4);
    }
    EXPECT_TRUE(samePixels(out, expected));
}

TEST(BubbleCompositorTest, HalfWidthZoomDoublesAScreenFeature) {
    ZoomPath zoom;
    zoom.rects = {{0.25, 0.25, 0.5, 0.5}};
    Rig rig(circle(BubbleBackground::keep), zoom);
    const VideoFrame screen = squareFrame(kWidth, kHeight, 64);
    auto out = canvas();
    ASSERT_TRUE(rig.compositor->render(&screen, nullptr, 1.0, out));
    const auto whiteRun = [&](bool horizontal) {
        int count = 0;
        const int n = horizontal ? kWidth : kHeight;
        for (int i = 0; i < n; ++i) {
            const Bgra p = horizontal ? pixel(out, i, kHeight / 2) : pixel(out, kWidth / 2, i);
            if (p.g > 127) ++count;
        }
        return count;
    };
    EXPECT_NEAR(whiteRun(true), 128, 2);
    EXPECT_NEAR(whiteRun(false), 128, 2);
}

TEST(BubbleCompositorTest, HalfWidthZoomOnPlanesDoublesAScreenFeature) {
    ZoomPath zoom;
    zoom.rects = {{0.25, 0.25, 0.5, 0.5}};
    Rig rig(circle(BubbleBackground::keep), zoom);
    const int w = 640;
    const int h = 360;
    // Luma: a bright 32-pixel square in the middle; chroma: a bluish left
    // half, a reddish right half.
    std::vector<uint8_t> y(static_cast<size_t>(w * h), 16);
    std::vector<uint8_t> u(static_cast<size_t>(w * h / 4));
    std::vector<uint8_t> v(static_cast<size_t>(w * h / 4), 128);
    for (int row = 0; row < h; ++row) {
        for (int col = 0; col < w; ++col) {
            if (std::abs(2 * col + 1 - w) < 32 && std::abs(2 * row + 1 - h) < 32) y[static_cast<size_t>(row * w + col)] = 235;
        }
    }
    for (int row = 0; row < h / 2; ++row) {
        for (int col = 0; col < w / 2; ++col) u[static_cast<size_t>(row * w / 2 + col)] = col < w / 4 ? 200 : 60;
    }
    Yuv420View screen;
    screen.planes[0] = {y.data(), w, w, h};
    screen.planes[1] = {u.data(), w / 2, w / 2, h / 2};
    screen.planes[2] = {v.data(), w / 2, w / 2, h / 2};
    std::vector<uint8_t> outY(y.size());
    std::vector<uint8_t> outU(u.size());
    std::vector<uint8_t> outV(v.size());
    Yuv420Canvas out;
    out.planes[0] = {outY.data(), w, w, h};
    out.planes[1] = {outU.data(), w / 2, w / 2, h / 2};
    out.planes[2] = {outV.data(), w / 2, w / 2, h / 2};
    rig.compositor->drawScreen(screen, 0, out);
    int bright = 0;
    for (int col = 0; col < w; ++col) bright += outY[static_cast<size_t>((h / 2) * w + col)] > 125 ? 1 : 0;
    EXPECT_NEAR(bright, 64, 2);
    // The chroma edge stays in the middle, the halves keep their colours.
    const size_t mid = static_cast<size_t>((h / 4) * (w / 2));
    EXPECT_EQ(outU[mid + 10], 200);
    EXPECT_EQ(outU[mid + w / 2 - 10], 60);
    EXPECT_EQ(outV[mid + 10], 128);
}

TEST(BubbleCompositorTest, CircleShowsTheCameraWithALightRingAndADarkShadow) {
    Rig rig(circle(BubbleBackground::keep));
    const Bgra grey{100, 100, 100};
    const VideoFrame screen = solidFrame(kWidth, kHeight, grey);
    const VideoFrame camera = solidFrame(640, 360, {0, 0, 255});
    auto out = canvas();
    ASSERT_TRUE(rig.compositor->render(&screen, &camera, 0, out));

    const PixelRect square = BubbleCompositor::bubbleSquare(circle(BubbleBackground::keep), kWidth, kHeight);
    const int ring = BubbleCompositor::ringWidth(square.width);
    const int cx = static_cast<int>(square.midX());
    const int cy = static_cast<int>(square.midY());
    const int r = static_cast<int>(square.width / 2);

    const Bgra centre = pixel(out, cx, cy);
    EXPECT_GE(centre.r, 250);
    EXPECT_LE(centre.g, 5);
    EXPECT_LE(centre.b, 5);
    // Above the face, inside the ring: lighter than the screen.
    const Bgra ringPixel = pixel(out, cx, cy - r - ring / 2 - 1);
    EXPECT_GT(luma(ringPixel), 100 + 5);
    // Below the bubble, past the ring: the shadow darkens the screen.
    const Bgra shadow = pixel(out, cx, cy + r + ring + 3);
    EXPECT_LT(luma(shadow), 100 - 10);
    // Far away: the screen as it is.
    const Bgra outside = pixel(out, 20, 20);
    EXPECT_EQ(outside.r, 100);
    EXPECT_EQ(outside.g, 100);
    EXPECT_EQ(outside.b, 100);
    EXPECT_EQ(rig.fake->callCount(), 0U);  // a kept room is never segmented
}

// The room (left part of the face) and the person (a central band), in
// canvas pixels.
struct FaceProbe {
    int roomX0, roomX1, roomY0, roomY1;
};

FaceProbe roomProbe(const PixelRect& square) {
    return {static_cast<int>(square.x + 0.12 * square.width), static_cast<int>(square.x + 0.28 * square.width),
            static_cast<int>(square.y + 0.4 * square.height), static_cast<int>(square.y + 0.6 * square.height)};
}

double roomVariance(const WritableVideoFrame& out, const FaceProbe& probe) {
    double sum = 0;
    double squares = 0;
    int n = 0;
    for (int y = probe.roomY0; y < probe.roomY1; ++y) {
        for (int x = probe.roomX0; x < probe.roomX1; ++x) {
            const double v = luma(pixel(out, x, y));
            sum += v;
            squares += v * v;
            ++n;
        }
    }
    const double mean = sum / n;
    return squares / n - mean * mean;
}

TEST(BubbleCompositorTest, BlurCalmsTheRoomAndRemoveShowsTheBackdrop) {
    const VideoFrame screen = solidFrame(kWidth, kHeight, {100, 100, 100});
    const VideoFrame camera = checkerFrame(640, 360);
    const PersonMask person = FakeSegmentationBackend::rectangleMask(64, 64, {0.4, 0.1, 0.2, 0.9});
    const PixelRect square = BubbleCompositor::bubbleSquare(circle(BubbleBackground::keep), kWidth, kHeight);
    const FaceProbe probe = roomProbe(square);

    std::array<double, 3> variance{};
    for (const BubbleBackground background : kAllBubbleBackgrounds) {
        Rig rig(circle(background));
        rig.fake->setResult(person);
        auto out = canvas();
        ASSERT_TRUE(rig.compositor->render(&screen, &camera, 0, out));
        variance[static_cast<size_t>(background)] = roomVariance(out, probe);
        if (background == BubbleBackground::remove) {
            // Dark grey, a little blue, lighter near the backdrop's centre
            // (38 % down the picture) than near its lower edge.
            const int x = static_cast<int>(square.x + 0.2 * square.width);
            const Bgra high = pixel(out, x, static_cast<int>(square.y + 0.38 * square.height));
            const Bgra low = pixel(out, x, static_cast<int>(square.y + 0.8 * square.height));
            EXPECT_GE(high.b, high.r);
            EXPECT_LT(luma(high), 70);
            EXPECT_GT(luma(low), 15);
            EXPECT_GT(luma(high), luma(low));
            // The person keeps the camera's own pixels.
            const int px = static_cast<int>(square.midX());
            const int py = static_cast<int>(square.midY());
            EXPECT_EQ(pixel(out, px, py).g, pixel(out, px, py).b);
        }
    }
    EXPECT_GT(variance[0], 2000);                 // the checks, as recorded
    EXPECT_LT(variance[1], variance[0] / 20);     // blurred
    EXPECT_LT(variance[2], variance[0] / 20);     // a smooth backdrop
}

TEST(BubbleCompositorTest, CutoutStandsOnTheBottomEdgeAndNeedsAMask) {
    const VideoFrame screen = checkerFrame(kWidth, kHeight);
    const VideoFrame camera = solidFrame(640, 360, {0, 200, 0});
    auto screenOnly = canvas();
    Rig plain(cutout());
    ASSERT_TRUE(plain.compositor->render(&screen, nullptr, 0, screenOnly));

    // No mask: the screen alone. A mask without a person: neither the
    // person nor a shadow.
    for (const std::optional<PersonMask>& mask :
         {std::optional<PersonMask>{}, std::optional<PersonMask>{PersonMask::filled(32, 18, 0)}}) {
        Rig rig(cutout());
        rig.fake->setResult(mask);
        auto out = canvas();
        ASSERT_TRUE(rig.compositor->render(&screen, &camera, 0, out));
        EXPECT_TRUE(samePixels(out, screenOnly)) << (mask ? "empty mask" : "no mask");
    }

    Rig rig(cutout());
    rig.fake->setResult(FakeSegmentationBackend::rectangleMask(160, 90, {0.3, 0.2, 0.4, 0.8}));
    auto out = canvas();
    ASSERT_TRUE(rig.compositor->render(&screen, &camera, 0, out));
    const PixelRect square = BubbleCompositor::bubbleSquare(cutout(), kWidth, kHeight);
    // The picture is as high as the square and stands on the bottom edge,
    // centred on the square; the person is the middle of it.
    const int x = static_cast<int>(square.midX());
    const Bgra feet = pixel(out, x, kHeight - 1);
    EXPECT_EQ(feet.g, 200);
    EXPECT_EQ(feet.r, 0);
    const Bgra head = pixel(out, x, static_cast<int>(square.y + 0.3 * square.height));
    EXPECT_EQ(head.g, 200);
    // Above the picture the screen shows, untouched by any shadow far away.
    const Bgra above = pixel(out, x, static_cast<int>(square.y) - 100);
    const Bgra screenAbove = pixel(screenOnly, x, static_cast<int>(square.y) - 100);
    EXPECT_EQ(above.g, screenAbove.g);
}

TEST(BubbleCompositorTest, YuvBlendMatchesTheCameraColour) {
    // A grey canvas in 4:2:0 with a red circle laid over it.
    Rig rig(circle(BubbleBackground::keep, BubbleSize::small));
    const int w = 320;
    const int h = 180;
    std::vector<uint8_t> y(static_cast<size_t>(w * h), 126);
    std::vector<uint8_t> u(static_cast<size_t>(w * h / 4), 128);
    std::vector<uint8_t> v(static_cast<size_t>(w * h / 4), 128);
    Yuv420Canvas canvas420;
    canvas420.planes[0] = {y.data(), w, w, h};
    canvas420.planes[1] = {u.data(), w / 2, w / 2, h / 2};
    canvas420.planes[2] = {v.data(), w / 2, w / 2, h / 2};
    const VideoFrame camera = solidFrame(160, 90, {0, 0, 255});
    const BubbleLayer* layer = rig.compositor->bubbleLayer(camera, 0, w, h);
    ASSERT_NE(layer, nullptr);
    BubbleCompositor::blendLayer(*layer, canvas420);
    const PixelRect square = BubbleCompositor::bubbleSquare(circle(BubbleBackground::keep, BubbleSize::small), w, h);
    const auto cx = static_cast<size_t>(square.midX());
    const auto cy = static_cast<size_t>(square.midY());
    // BT.709 limited range red: Y 63, Cb 102, Cr 240.
    EXPECT_NEAR(y[cy * w + cx], 63, 2);
    EXPECT_NEAR(u[(cy / 2) * (w / 2) + cx / 2], 102, 2);
    EXPECT_NEAR(v[(cy / 2) * (w / 2) + cx / 2], 240, 2);
    EXPECT_EQ(y[5 * w + 5], 126);
    EXPECT_EQ(u[2 * (w / 2) + 2], 128);
}

}  // namespace
}  // namespace hollowkit
