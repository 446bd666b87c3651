// The open island's rules as plain tables (which controls exist and act,
// the row's fit, the pane's size, the header), the battery glyph's pixels,
// and the live preview's gestures and picture on the real model.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "island_fakes.h"
#include "island_preview_harness.h"
#include "lumenhollow/ui/island/island_content.h"
#include "lumenhollow/ui/island/island_controls.h"
#include "lumenhollow/ui/island/island_expanded_view.h"
#include "lumenhollow/ui/island/island_glyphs.h"
#include "lumenhollow/ui/island/island_preview.h"
#include "lumenhollow/ui/island/notch_view.h"
#include "lumenhollow/ui/window/video_feed.h"

namespace lumenhollow::ui {
namespace {

using hollowkit::GimbalVelocity;
using lumenhollow::FakeCamera;
using test::PreviewHarness;

std::vector<IslandControl> kinds(const std::vector<IslandControlItem>& items) {
    std::vector<IslandControl> out;
    for (const IslandControlItem& item : items) out.push_back(item.kind);
    return out;
}

const IslandControlItem* find(const std::vector<IslandControlItem>& items, IslandControl kind) {
    for (const IslandControlItem& item : items) {
        if (item.kind == kind) return &item;
    }
    return nullptr;
}

TEST(IslandControls, EnablementMatrix) {
    using C = IslandControl;
    struct Case {
        const char* name;
        IslandControlInputs in;
        bool grid;
        std::vector<C> expected;
        std::vector<std::pair<C, bool>> enabled;
    };
    const std::vector<std::string> five = {"Desk", "Door", "Board", "Wide", "Close"};
    const std::vector<Case> cases = {
        {"no picture: photo and record disabled",
         {false, false, false, true, true, false, {}},
         false,
         {C::record, C::photo, C::tracking, C::frame, C::centre, C::spacer, C::zoomStepper, C::pin, C::mainWindow},
         {{C::record, false}, {C::photo, false}, {C::tracking, true}, {C::centre, true}}},
        {"no picture while recording: a recording can always stop",
         {false, true, false, true, true, false, {}},
         false,
         {C::record, C::photo, C::tracking, C::frame, C::centre, C::spacer, C::zoomStepper, C::pin, C::mainWindow},
         {{C::record, true}, {C::photo, false}}},
        {"wifi: tracking and frame disabled, no chips although scenes are saved",
         {true, false, false, true, false, false, five},
         false,
         {C::record, C::photo, C::tracking, C::frame, C::centre, C::spacer, C::zoomStepper, C::pin, C::mainWindow},
         {{C::tracking, false}, {C::frame, false}, {C::centre, true}, {C::photo, true}, {C::record, true}}},
        {"five scenes over usb: three chips",
         {true, false, false, true, true, false, five},
         false,
         {C::record, C::photo, C::tracking, C::frame, C::centre, C::sceneChip, C::sceneChip, C::sceneChip, C::spacer,
          C::zoomStepper, C::pin, C::mainWindow},
         {{C::tracking, true}, {C::frame, true}}},
        {"no zoom range: no stepper in the row",
         {true, false, false, false, true, false, {}},
         false,
         {C::record, C::photo, C::tracking, C::frame, C::centre, C::spacer, C::pin, C::mainWindow},
         {}},
        {"no zoom range: seven grid cells",
         {true, false, false, false, true, false, five},
         true,
         {C::record, C::photo, C::tracking, C::frame, C::centre, C::pin, C::mainWindow},
         {}},
        {"zoom known: the grid's zoom pair, no chips in the grid",
         {true, false, false, true, true, false, five},
         true,
         {C::record, C::photo, C::tracking, C::frame, C::centre, C::zoomIn, C::zoomOut, C::pin, C::mainWindow},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto items = c.grid ? islandGridControls(c.in) : islandRowControls(c.in);
        EXPECT_EQ(kinds(items), c.expected);
        for (const auto& [kind, enabled] : c.enabled) {
            const IslandControlItem* item = find(items, kind);
            ASSERT_NE(item, nullptr);
            EXPECT_EQ(item->enabled, enabled) << static_cast<int>(kind);
        }
    }
}

TEST(IslandControls, FacesFollowTheState) {
    IslandControlInputs in{true, false, false, true, true, false, {"Desk", "Door", "Board", "Wide"}};
    struct Case {
        const char* name;
        bool recording, tracking, pinned;
        QString recordHelp;
        const char* pinSymbol;
        QString pinHelp;
    };
    const std::vector<Case> cases = {
        {"at rest", false, false, false, "Record (Ctrl+R)", "pin", "Keep open"},
        {"recording, tracking, pinned", true, true, true, "Stop recording (Ctrl+R)", "pin.fill", "Unpin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        in.recording = c.recording;
        in.faceTracking = c.tracking;
        in.pinned = c.pinned;
        const auto items = islandRowControls(in);
        EXPECT_EQ(find(items, IslandControl::record)->help, c.recordHelp);
        EXPECT_EQ(find(items, IslandControl::tracking)->accentTint, c.tracking);
        EXPECT_EQ(find(items, IslandControl::pin)->symbol, c.pinSymbol);
        EXPECT_EQ(find(items, IslandControl::pin)->help, c.pinHelp);
        EXPECT_EQ(find(items, IslandControl::pin)->platformTint, c.pinned);
        // Chips keep their place in the list and carry the scene's name.
        std::vector<std::pair<int, QString>> chips;
        for (const auto& item : items) {
            if (item.kind == IslandControl::sceneChip) chips.emplace_back(item.sceneIndex, item.help);
        }
        EXPECT_EQ(chips, (std::vector<std::pair<int, QString>>{{0, "Desk"}, {1, "Door"}, {2, "Board"}}));
    }
}

TEST(IslandControls, TheFullestRowFitsWithoutOverlap) {
    // Every control, three chips and the stepper need more than the 488 of the band.
    const QRectF band(16, 315, 488, 40);
    struct Case {
        const char* name;
        IslandControlInputs in;
    };
    const std::vector<Case> cases = {
        {"fullest", {true, false, false, true, true, false, {"a", "b", "c"}}},
        {"no chips", {true, false, false, true, true, false, {}}},
        {"no zoom", {true, false, false, false, true, false, {"a"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto items = islandRowControls(c.in);
        const auto rects = islandRowLayout(items, band);
        ASSERT_EQ(rects.size(), items.size());
        for (size_t i = 0; i < rects.size(); ++i) {
            EXPECT_GE(rects[i].left(), band.left() - 6) << i;
            EXPECT_LE(rects[i].right(), band.right() + 6) << i;
            EXPECT_GE(rects[i].top(), band.top()) << i;
            EXPECT_LE(rects[i].bottom(), band.bottom()) << i;
            for (size_t j = i + 1; j < rects.size(); ++j) {
                if (items[i].kind == IslandControl::spacer || items[j].kind == IslandControl::spacer) continue;
                EXPECT_FALSE(rects[i].intersects(rects[j])) << i << " and " << j;
            }
        }
        // The spacer pushes the last control to the trailing end.
        EXPECT_GE(rects.back().right(), band.right() - 0.01);
        EXPECT_LE(rects.front().left(), band.left() + 0.01);
    }
}

TEST(IslandContent, PaneSizesBodiesAndTitles) {
    struct Pane {
        double aspect;
        QSize size;
        IslandBody body;
    };
    const std::vector<Pane> panes = {
        {16.0 / 9.0, {488, 275}, IslandBody::landscape}, {4.0 / 3.0, {488, 300}, IslandBody::landscape},
        {1.0, {488, 300}, IslandBody::landscape},        {2.5, {488, 195}, IslandBody::landscape},
        {9.0 / 16.0, {221, 392}, IslandBody::portrait},  {0.1, {118, 392}, IslandBody::portrait},
        {0.0, {488, 275}, IslandBody::landscape},
    };
    for (const Pane& p : panes) {
        EXPECT_EQ(islandPreviewSize(p.aspect), p.size) << p.aspect;
        EXPECT_EQ(islandBody(NotchContent::preview, p.aspect), p.body) << p.aspect;
        EXPECT_EQ(islandBody(NotchContent::controls, p.aspect), IslandBody::controlsOnly) << p.aspect;
    }

    struct Title {
        const char* name;
        bool live;
        std::optional<std::string> failure;
        QString text;
        IslandStatusOverlay overlay;
    };
    const std::vector<Title> titles = {
        {"live", true, std::nullopt, "Osmo Pocket", {}},
        {"live with a stale failure", true, "lost", "Osmo Pocket", {}},
        {"connecting", false, std::nullopt, "Connecting", {true, true, false}},
        {"failed", false, "lost", "Not connected", {true, false, true}},
    };
    for (const Title& t : titles) {
        SCOPED_TRACE(t.name);
        IslandContentInputs in;
        in.live = t.live;
        in.failure = t.failure;
        EXPECT_EQ(islandHeaderTitle(in).text, t.text);
        EXPECT_EQ(islandHeaderTitle(in).live, t.live);
        EXPECT_EQ(islandStatusOverlay(in), t.overlay);
    }

    // The left slot: the recording wins over tracking, tracking over the status.
    IslandContentInputs in;
    in.faceTracking = true;
    in.recordingStarted = hollowkit::WallTime{};
    EXPECT_EQ(islandLeftSlot(in), IslandLeftSlot::recording);
    in.recordingStarted.reset();
    EXPECT_EQ(islandLeftSlot(in), IslandLeftSlot::tracking);
    in.faceTracking = false;
    EXPECT_EQ(islandLeftSlot(in), IslandLeftSlot::status);
}

TEST(IslandContent, LayoutsAddUpToTheIslandSizes) {
    const NotchGeometry plain{QRect(0, 0, 1920, 1080), 0, false, 0, 0};
    struct Case {
        NotchContent content;
        double aspect;
    };
    for (const Case c : {Case{NotchContent::preview, 16.0 / 9.0}, Case{NotchContent::preview, 9.0 / 16.0},
                         Case{NotchContent::controls, 16.0 / 9.0}, Case{NotchContent::preview, 4.0 / 3.0}}) {
        SCOPED_TRACE(c.aspect);
        const QSize island = notchIslandSize(plain, c.content, c.aspect, true);
        const IslandExpandedLayout layout = islandExpandedLayout(plain, island, 220, c.content, c.aspect);
        // 14 points stay under the lowest part, and nothing leaves the island's sides.
        const double bottom = std::max(layout.preview.bottom(), layout.controls.bottom());
        EXPECT_DOUBLE_EQ(bottom, island.height() - 14);
        EXPECT_GE(std::min(layout.preview.isEmpty() ? 1e9 : layout.preview.left(), layout.controls.left()), 16);
        EXPECT_LE(std::max(layout.preview.right(), layout.controls.right()), island.width() - 16);
        EXPECT_FALSE(layout.preview.intersects(layout.controls));
    }
}

// The colour of the pixel at `x`, `y` of a glyph drawn at the origin.
QColor batteryPixel(int percent, double x, double y) {
    BatteryGlyph glyph;
    glyph.set(percent, false);
    QImage image(80, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    // Shifted so the outline's left edge falls on a whole pixel.
    const double outlineLeft = glyph.size().width() - 20;
    const double shift = std::ceil(outlineLeft) - outlineLeft;
    QPainter painter(&image);
    glyph.paint(painter, shift, 10);
    painter.end();
    return image.pixelColor(static_cast<int>(std::ceil(outlineLeft) + x), static_cast<int>(y));
}

TEST(BatteryGlyph, BarLengthAndColourByLevel) {
    const QColor red(0xff, 0x45, 0x3a), yellow(0xff, 0xd6, 0x0a), green(0x32, 0xd7, 0x4b);
    struct Case {
        int percent;
        QColor bar;
        int litUntil;  // the last fully lit column, from the outline's left edge
        QColor text;
    };
    const std::vector<Case> cases = {
        {100, green, 17, Qt::white},  // 2 + 16
        {30, yellow, 5, Qt::white},   // 2 + 4.8
        {15, red, 3, red},            // 2 + 2.4
        {5, red, 3, red},             // the 2-point minimum
        {0, red, 3, red},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.percent);
        BatteryGlyph glyph;
        glyph.set(c.percent, false);
        EXPECT_EQ(glyph.textColor(), c.text);
        // Inside the bar (its middle row) the colour is the level's...
        EXPECT_EQ(batteryPixel(c.percent, c.litUntil, 10), c.bar);
        EXPECT_EQ(batteryPixel(c.percent, 2, 10), c.bar);
        // ...and two points past its end it is the black behind.
        if (c.percent < 100) {
            EXPECT_EQ(batteryPixel(c.percent, c.litUntil + 2, 10), QColor(Qt::black));
        }
    }
    // Out of range never draws outside the outline.
    for (const auto& [percent, width] : {std::pair{250, 16.0}, std::pair{-5, 2.0}}) {
        BatteryGlyph glyph;
        glyph.set(percent, false);
        EXPECT_DOUBLE_EQ(glyph.barWidth(), width) << percent;
    }
}

TEST(PulsingDot, RunsBetweenFullAndDimEveryEightTenths) {
    struct Case {
        double seconds;
        double opacity;
    };
    for (const Case c : {Case{0, 1}, Case{0.8, 0.35}, Case{1.6, 1}, Case{2.4, 0.35}, Case{0.4, 0.675}}) {
        EXPECT_NEAR(PulsingDot::opacityAt(c.seconds), c.opacity, 1e-9) << c.seconds;
    }
}

TEST(IslandPreview, DragsAndWheelReachTheModel) {
    {
        SCOPED_TRACE("a speed drag over wifi: -2 per point, zero at release");
        PreviewHarness h(false);
        h.open();
        ASSERT_TRUE(h.preview().isVisible());
        QTest::mousePress(&h.preview(), Qt::LeftButton, {}, QPoint(100, 100));
        EXPECT_EQ(h.preview().cursor().shape(), Qt::ClosedHandCursor);
        QTest::mouseMove(&h.preview(), QPoint(110, 80));
        EXPECT_EQ(h.velocity(), (GimbalVelocity{-40, -20})) << "20 up counts +20, times -2";
        QTest::mouseRelease(&h.preview(), Qt::LeftButton, {}, QPoint(110, 80));
        EXPECT_EQ(h.velocity(), GimbalVelocity::zero);
        EXPECT_EQ(h.preview().cursor().shape(), Qt::OpenHandCursor);
    }
    {
        SCOPED_TRACE("a position drag over usb: moves from the start, at most 15 a second");
        PreviewHarness h(true);
        h.open();
        QTest::mousePress(&h.preview(), Qt::LeftButton, {}, QPoint(100, 100));
        QTest::mouseMove(&h.preview(), QPoint(120, 100));
        h.main.runUntilIdle();
        const size_t first = h.moves().size();
        EXPECT_EQ(first, 1u);
        QTest::mouseMove(&h.preview(), QPoint(140, 100));
        h.main.runUntilIdle();
        EXPECT_EQ(h.moves().size(), first) << "a second move within 1/15 s waits";
        h.main.advanceSeconds(0.1);
        QTest::mouseMove(&h.preview(), QPoint(160, 100));
        h.main.runUntilIdle();
        EXPECT_GT(h.moves().size(), first);
        QTest::mouseRelease(&h.preview(), Qt::LeftButton, {}, QPoint(160, 100));
        EXPECT_EQ(h.velocity(), GimbalVelocity::zero);
        EXPECT_FALSE(h.preview().input().isDragging());
    }
    {
        SCOPED_TRACE("wheel: four notches or 24 precise points make one step");
        struct Wheel {
            QPoint pixel, angle;
            int events;
            size_t steps;
        };
        for (const Wheel w : {Wheel{{}, {0, 120}, 4, 1}, Wheel{{}, {0, 120}, 3, 0}, Wheel{{0, 6}, {0, 15}, 4, 1},
                              Wheel{{0, 6}, {0, 15}, 3, 0}}) {
            PreviewHarness h(true);
            h.open();
            auto zooms = [&h] {
                auto all = h.camera()->commands();
                return static_cast<size_t>(std::count_if(all.begin(), all.end(), [](const std::string& c) {
                    return c.rfind("setZoom", 0) == 0;
                }));
            };
            const size_t before = zooms();
            for (int i = 0; i < w.events; ++i) {
                const QPointF at(50, 50);
                QWheelEvent wheel(at, h.preview().mapToGlobal(at), w.pixel, w.angle, Qt::NoButton, Qt::NoModifier,
                                  Qt::NoScrollPhase, false);
                QApplication::sendEvent(&h.preview(), &wheel);
            }
            h.main.runUntilIdle();
            EXPECT_EQ(zooms() - before, w.steps) << w.events << " events";
        }
    }
}

TEST(IslandPreview, ADragEndsWhenThePaneGoesMidPress) {
    struct Case {
        const char* name;
        std::function<void(PreviewHarness&)> tearDown;
    };
    const std::vector<Case> cases = {
        {"controls only", [](PreviewHarness& h) { h.model->setNotchContent(NotchContent::controls); }},
        {"island hidden", [](PreviewHarness& h) { h.model->setShowInNotch(false); }},
        {"pane destroyed", [](PreviewHarness& h) { delete &h.preview(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PreviewHarness h(false);
        h.open();
        QTest::mousePress(&h.preview(), Qt::LeftButton, {}, QPoint(100, 100));
        QTest::mouseMove(&h.preview(), QPoint(130, 100));
        ASSERT_FALSE(h.velocity().isZero());
        c.tearDown(h);
        h.main.runUntilIdle();
        EXPECT_EQ(h.velocity(), GimbalVelocity::zero);
    }
}

TEST(IslandPreview, FramesReachTheIslandOnlyWhileItIsOpenOnThePicture) {
    PreviewHarness h(true);
    auto deliverAndShow = [&h] {
        h.camera()->deliverFrame(FakeCamera::makeFrame(64, 36, h.main.clock().now()));
        h.main.runUntilIdle();
        h.preview().showWaitingFrame();
        return static_cast<bool>(h.preview().currentFrame());
    };
    EXPECT_FALSE(deliverAndShow()) << "closed";
    h.open();
    EXPECT_TRUE(deliverAndShow()) << "open on the picture";
    h.controller->islandTapped();  // a tap on the open island does not close it
    h.model->setNotchContent(NotchContent::controls);
    h.feed->flushRemovingImage();
    h.main.runUntilIdle();
    QApplication::processEvents();
    EXPECT_FALSE(deliverAndShow()) << "open on the controls";
}

TEST(IslandControlsWiring, ClicksReachTheModel) {
    PreviewHarness h(true);
    for (int i = 1; i <= 5; ++i) {
        h.camera()->setPosition(hollowkit::CameraPosition{10.0 * i, 0, 100});
        h.model->saveCurrentPositionAsScene();
    }
    h.main.runUntilIdle();
    h.open();
    IslandExpandedView& content = h.content();
    ASSERT_TRUE(content.control(IslandControl::sceneChip, 2)->isVisible());
    QTest::mouseClick(content.control(IslandControl::sceneChip, 1), Qt::LeftButton, {}, QPoint(15, 15));
    h.main.runUntilIdle();
    ASSERT_FALSE(h.moves().empty());
    EXPECT_EQ(h.moves().back().rfind("move 20.00", 0), 0u) << h.moves().back();
    EXPECT_EQ(content.control(IslandControl::sceneChip, 1)->toolTip(), "Scene 2");

    // Without a picture the photo button ignores its click.
    EXPECT_FALSE(content.control(IslandControl::photo)->isEnabled());
    // The pin flips the island's state and its own face.
    QTest::mouseClick(content.control(IslandControl::pin), Qt::LeftButton, {}, QPoint(16, 16));
    EXPECT_TRUE(h.controller->state().pinned);
    EXPECT_EQ(content.control(IslandControl::pin)->toolTip(), "Unpin");
    // Centre asks the gimbal to recentre.
    QTest::mouseClick(content.control(IslandControl::centre), Qt::LeftButton, {}, QPoint(16, 16));
    EXPECT_TRUE(h.camera()->gimbal().takeRecenterRequest());
}

TEST(IslandReconnect, ClearsTheCameraOffMarkOnlyWhenAConnectionStarts) {
    PreviewHarness h(false);
    // The camera reports itself off: the mark is set and a switch starts.
    h.camera()->emitNow(hollowkit::CameraEvent::cameraOff());
    ASSERT_TRUE(h.state().cameraOff);
    ASSERT_TRUE(h.model->isSwitching());
    h.model->reconnect();
    EXPECT_TRUE(h.state().cameraOff) << "refused while switching: the mark stays";
    h.main.runUntilIdle();
    ASSERT_FALSE(h.model->isSwitching());
    ASSERT_TRUE(h.state().cameraOff);
    h.model->reconnect();
    EXPECT_FALSE(h.state().cameraOff);
    EXPECT_TRUE(h.model->isSwitching());
}

}  // namespace
}  // namespace lumenhollow::ui
