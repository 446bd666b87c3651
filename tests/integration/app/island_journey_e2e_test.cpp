// The island's journey on the demonstration camera, on a real X server, as a
// user makes it: the pointer rests on the small pill and the island opens;
// the screen, read back from the root window, shows the camera's live
// picture in it; a press and drag on the picture turns the simulated gimbal
// while the button is held and leaves it still once let go; the island's
// photo and record buttons, clicked through the X server, leave a photo and
// a movie in the videos folder that their readers can open.
//
// Nothing here times anything: each step waits, within generous bounds, for
// what the user would see, and stillness is judged over frames, not seconds.

#include <QAction>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>

#include <cmath>

#include "demo_run.h"
#include "hollowkit/base/command_runner.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/island/island_expanded_view.h"
#include "lumenhollow/ui/island/island_preview.h"
#include "lumenhollow/ui/island/notch_panel_controller.h"
#include "lumenhollow/ui/island/notch_view.h"
#include "lumenhollow/ui/island/record_button.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/main_window.h"

namespace lumenhollow::test {
namespace {

QPoint journeyCentreOf(const QWidget& widget) { return widget.mapToGlobal(widget.rect().center()); }

// What the screen shows over `widget`, read from the root window.
QImage journeyScreenOver(const QWidget& widget) {
    const QPoint topLeft = widget.mapToGlobal(QPoint(0, 0));
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, topLeft.x(), topLeft.y(), widget.width(), widget.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// The pane's newest frame, drawn as the pane draws it: aspect-fit and centred.
QImage journeyFrameInPane(const ui::IslandPreview& preview) {
    const hollowkit::VideoFrame& frame = preview.currentFrame();
    QImage pane(preview.size(), QImage::Format_RGB32);
    pane.fill(Qt::black);
    if (!frame) return pane;
    const QImage image(frame.planeData(0), frame.width(), frame.height(), static_cast<qsizetype>(frame.stride(0)),
                       QImage::Format_RGB32);
    const QSize fitted = image.size().scaled(pane.size(), Qt::KeepAspectRatio);
    const QImage scaled = image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int y = 0; y < scaled.height(); ++y) {
        for (int x = 0; x < scaled.width(); ++x) {
            pane.setPixel(x + (pane.width() - fitted.width()) / 2, y + (pane.height() - fitted.height()) / 2,
                          scaled.pixel(x, y));
        }
    }
    return pane;
}

// The grid of points the comparisons read: inside the rounded corners and
// clear of the badge's corner.
template <typename Visit>
void journeyForGrid(const QSize& size, Visit visit) {
    constexpr int kInset = 24;
    for (int y = kInset; y < size.height() - kInset; y += 6) {
        for (int x = kInset; x < size.width() - kInset; x += 6) visit(x, y);
    }
}

// The mean difference of two images over the grid, per channel.
double journeyDifference(const QImage& a, const QImage& b) {
    double sum = 0;
    int points = 0;
    journeyForGrid(a.size(), [&](int x, int y) {
        const QColor p = a.pixelColor(x, y);
        const QColor q = b.pixelColor(x, y);
        sum += (std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) + std::abs(p.blue() - q.blue())) / 3.0;
        ++points;
    });
    return points ? sum / points : 0;
}

// How far the image strays from grey over the grid: the pane's empty
// background (and a blank window) is grey, the demonstration scene is not.
double journeyColourfulness(const QImage& image) {
    double sum = 0;
    int points = 0;
    journeyForGrid(image.size(), [&](int x, int y) {
        const QColor c = image.pixelColor(x, y);
        sum += std::max({std::abs(c.red() - c.green()), std::abs(c.green() - c.blue()), std::abs(c.red() - c.blue())});
        ++points;
    });
    return points ? sum / points : 0;
}

// The screen over the pane matches the picture the pane holds.
bool journeyScreenShowsFrame(const ui::IslandPreview& preview, QImage* shown) {
    *shown = journeyScreenOver(preview);
    constexpr double kSameTolerance = 12;
    constexpr double kColourful = 8;
    return journeyColourfulness(*shown) > kColourful &&
           journeyDifference(*shown, journeyFrameInPane(preview)) < kSameTolerance;
}

bool journeyWaitForFrames(const RunningDemo& demo, uint64_t count) {
    const uint64_t start = demo.camera()->framesDelivered();
    return demo.waitFor([&] { return demo.camera()->framesDelivered() >= start + count; });
}

bool journeySamePose(const hollowkit::LensPose& a, const hollowkit::LensPose& b) {
    return std::abs(a.panDegrees - b.panDegrees) < 1e-6 && std::abs(a.tiltDegrees - b.tiltDegrees) < 1e-6;
}

// The island at the top of the screen, opened by resting the pointer on it,
// its live picture in place; none when it would not open.
ui::IslandExpandedView* journeyOpenIsland(RunningDemo& demo) {
    ui::NotchPanelController* island = demo.app.island;
    if (!island || !demo.waitFor([&] { return island->isShown(); })) {
        ADD_FAILURE() << "the island is not on the screen";
        return nullptr;
    }
    EXPECT_FALSE(island->state().expanded);
    EXPECT_FALSE(demo.model().notchPreviewActive().value()) << "a closed island takes no frames";
    if (!demo.moveTo(island->islandRect().center())) return nullptr;
    ui::IslandExpandedView& open = island->view().expandedView();
    if (!demo.waitFor([&] { return island->state().expanded && open.isVisible() && open.preview().isVisible(); })) {
        ADD_FAILURE() << "resting on the island did not open it: expanded " << island->state().expanded
                      << ", its content shown " << open.isVisible() << ", the pointer at " << QCursor::pos().x()
                      << "," << QCursor::pos().y();
        return nullptr;
    }
    EXPECT_TRUE(demo.model().notchPreviewActive().value());
    return &open;
}

// Presses on the picture, moves `offset` in four steps and waits, with the
// button still held, for the gimbal to leave where it stood; then lets go.
void journeyDragPicture(RunningDemo& demo, ui::IslandPreview& preview, QPoint offset) {
    hollowkit::SceneCamera& camera = *demo.camera();
    const hollowkit::LensPose before = camera.pose();
    const QPoint from = journeyCentreOf(preview) - offset / 2;
    EXPECT_TRUE(demo.pressAt(from));
    EXPECT_TRUE(demo.waitFor([&] { return preview.input().isDragging(); })) << "the press never reached the picture";
    EXPECT_EQ(preview.cursor().shape(), Qt::ClosedHandCursor);
    constexpr int kSteps = 4;
    for (int i = 1; i <= kSteps; ++i) EXPECT_TRUE(demo.moveTo(from + offset * i / kSteps));
    EXPECT_TRUE(demo.waitFor([&] { return std::abs(camera.pose().panDegrees - before.panDegrees) > 1; }))
        << "the gimbal stayed at pan " << camera.pose().panDegrees << " while the picture was dragged";
    EXPECT_TRUE(preview.input().isDragging()) << "the drag ended before the button was let go";
    EXPECT_TRUE(demo.release());
    EXPECT_TRUE(demo.waitFor([&] { return !preview.input().isDragging(); })) << "the release never reached the picture";
    EXPECT_EQ(preview.cursor().shape(), Qt::OpenHandCursor);
}

// Once let go the gimbal holds still: the same pose over many frames.
void journeyExpectStill(RunningDemo& demo) {
    hollowkit::SceneCamera& camera = *demo.camera();
    const hollowkit::LensPose settled = camera.pose();
    ASSERT_TRUE(journeyWaitForFrames(demo, 20));
    EXPECT_TRUE(journeySamePose(camera.pose(), settled))
        << "pan went on from " << settled.panDegrees << " to " << camera.pose().panDegrees;
}

std::vector<std::filesystem::path> journeyPhotosIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> photos;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".heic" && entry.is_regular_file() && entry.file_size() > 0) {
            photos.push_back(entry.path());
        }
    }
    return photos;
}

// libheif's own reading of a photo: its "WxH" size, or empty when it cannot read it.
std::string journeyHeifSize(const std::filesystem::path& photo) {
    const hollowkit::CommandResult read = hollowkit::CommandRunner::run("/usr/bin/heif-info", {photo.string()}, {},
                                                                        /*logged=*/false, std::chrono::seconds(60));
    if (read.status != 0) return {};
    const size_t at = read.output.find("image: ");
    if (at == std::string::npos) return {};
    const size_t end = read.output.find_first_of(" \n", at + 7);
    return read.output.substr(at + 7, end - at - 7);
}

class IslandJourneyTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string why = run_.prepare({});
        if (!why.empty()) GTEST_SKIP() << why;
    }

    DemoRun run_;
};

TEST_F(IslandJourneyTest, HoverSeeDragPhotographAndRecordOnTheDemonstrationCamera) {
    const int status = run_.run([](RunningDemo& demo) {
        ASSERT_TRUE(demo.waitForLive()) << demo.model().state().statusText;
        std::shared_ptr<hollowkit::SceneCamera> camera = demo.camera();
        ASSERT_TRUE(camera && camera->supportsPositioning());
        ui::IslandExpandedView* open = journeyOpenIsland(demo);
        ASSERT_TRUE(open);
        ui::IslandPreview& preview = open->preview();

        QImage before;
        {
            SCOPED_TRACE("the live picture on the screen, in the island");
            ASSERT_TRUE(demo.waitFor([&] { return journeyScreenShowsFrame(preview, &before); }))
                << "colourfulness " << journeyColourfulness(before) << ", off the pane's frame by "
                << journeyDifference(before, journeyFrameInPane(preview));
        }

        {
            SCOPED_TRACE("a drag aims the gimbal and it stops where the pointer let go");
            const hollowkit::LensPose start = camera->pose();
            const QPoint offset(preview.width() / 4, 0);
            journeyDragPicture(demo, preview, offset);
            // Dragging the picture by a share of its width turns the camera
            // the other way by that share of the field of view.
            const double zoom = demo.model().state().zoom.value_or(100) / 100.0;
            const double aimed =
                start.panDegrees - offset.x() * (CameraModel::kPreviewDegrees / zoom) / preview.width();
            EXPECT_TRUE(demo.waitFor([&] { return std::abs(camera->pose().panDegrees - aimed) < 1e-6; }))
                << "pan " << camera->pose().panDegrees << ", aimed at " << aimed;
            journeyExpectStill(demo);
            EXPECT_TRUE(demo.model().notchPreviewActive().value()) << "the drag closed the island";

            // The screen follows: the island now shows the turned scene.
            QImage after;
            EXPECT_TRUE(demo.waitFor([&] { return journeyScreenShowsFrame(preview, &after); }));
            EXPECT_GT(journeyDifference(after, before), 20) << "the picture on the screen did not move";
        }

        {
            SCOPED_TRACE("the photo button leaves a photo libheif reads");
            QWidget* photo = open->control(ui::IslandControl::photo);
            ASSERT_TRUE(photo && photo->isVisible() && photo->isEnabled());
            ASSERT_TRUE(demo.clickAt(journeyCentreOf(*photo)));
            std::vector<std::filesystem::path> photos;
            ASSERT_TRUE(demo.waitFor([&] { return (photos = journeyPhotosIn(demo.videos)).size() == 1; }, 60s))
                << photos.size() << " photos";
            const hollowkit::VideoFormatOption format = camera->activeFormat().value();
            EXPECT_EQ(journeyHeifSize(photos.front()), std::to_string(format.width) + "x" + std::to_string(format.height));
        }

        {
            SCOPED_TRACE("the record button starts a movie and stops it, and ffprobe reads it");
            ui::RecordButton& record = open->recordButton();
            ASSERT_TRUE(record.isVisible() && record.isEnabled() && !record.recording());
            ASSERT_TRUE(demo.clickAt(journeyCentreOf(record)));
            ASSERT_TRUE(demo.waitFor([&] { return demo.model().isRecording() && record.recording(); }));
            EXPECT_TRUE(demo.waitFor([&] { return open->isVisible() && demo.app.island->view().elapsedText(); }))
                << "the open island shows no recording badge";
            ASSERT_TRUE(journeyWaitForFrames(demo, 30));
            ASSERT_TRUE(record.isEnabled());
            ASSERT_TRUE(demo.clickAt(journeyCentreOf(record)));
            const std::optional<ProbedMovie> probed = waitForMovie(demo, 10, 120s);
            ASSERT_TRUE(probed) << "no movie ffprobe reads; still recording: " << demo.model().isRecording();
            EXPECT_FALSE(record.recording());
        }
    });
    EXPECT_EQ(status, 0);
}

TEST_F(IslandJourneyTest, ASpeedDragOnTheIslandStopsTheGimbalWhenLetGoOverWiFi) {
    const int status = run_.run([](RunningDemo& demo) {
        ASSERT_TRUE(demo.waitForLive()) << demo.model().state().statusText;
        ASSERT_TRUE(demo.switchToWireless()) << demo.model().state().statusText;
        const std::shared_ptr<hollowkit::SceneCamera> camera = demo.camera();
        ASSERT_FALSE(camera->supportsPositioning());

        ui::IslandExpandedView* open = journeyOpenIsland(demo);
        ASSERT_TRUE(open);
        const hollowkit::LensPose start = camera->pose();
        // Leftward: the speed drag turns the camera the other way, to the right.
        journeyDragPicture(demo, open->preview(), QPoint(-open->preview().width() / 4, 0));
        EXPECT_GT(camera->pose().panDegrees, start.panDegrees);
        EXPECT_EQ(camera->gimbal().storedVelocity(), hollowkit::GimbalVelocity::zero)
            << "a speed was left in the gimbal's mailbox";
        journeyExpectStill(demo);
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace lumenhollow::test
