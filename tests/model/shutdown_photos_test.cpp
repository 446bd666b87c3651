// The quit and the photos: every photo pressed before a quit, and a scene's
// thumbnail asked for before it, is written before the reply that lets the
// process end, within a bound that grows with their number; the photo
// writer's queue is held by the encoder, so the quit comes while they wait.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hollowkit/testing/held_still_encoder.h"
#include "hollowkit/testing/still_image_probe.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/model/scene_store.h"
#include "recording_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::toDuration;

// A model on the USB-like camera whose termination requests are answered
// with its shutdown, as the application answers them, and whose photos wait
// in the encoder until the test lets them go.
struct PhotoQuitHarness : RecordingHarness {
    hollowkit::HeldStillEncoder held;

    PhotoQuitHarness() {
        stillEncoder = &held;
        settings.set("pairingIdentifier", std::string("0123456789abcdef0123456789abcdef"));
        start(true);
        shell.setOnTerminationRequest(main, [this] { model->handleTerminationRequest(); });
    }
    // The model, and with it the writer, goes while the encoder is here; a
    // held photo would keep the writer's end waiting.
    ~PhotoQuitHarness() {
        held.release();
        recorder.reset();
        model.reset();
        main.runUntilIdle();
    }

    void quit() {
        model->afterClosingSheets();
        main.runUntilIdle();
        ASSERT_TRUE(model->isTerminating());
    }
    void deliverFrame() { camera()->deliverFrame(FakeCamera::makeFrame(320, 180)); }
    // Photos each taken by a frame of its own (a press before the frame
    // would replace the one waiting for it).
    void takePhotos(int count) {
        for (int i = 0; i < count; ++i) {
            model->takePhoto();
            deliverFrame();
        }
    }
    size_t replies() const { return shell.count("reply"); }
    bool cameraStopAsked() const {
        const auto commands = camera()->commands();
        return std::find(commands.begin(), commands.end(), "stop") != commands.end();
    }
    // Every entry of the output folder: the photos and nothing else, each whole.
    size_t wholePhotos() const {
        size_t whole = 0;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(outputFolder, error)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name.starts_with("Lumenhollow Photo ") && name.ends_with(".heic")) << name;
            EXPECT_TRUE(hollowkit::decodeHeifFile(entry.path())) << name << " is no whole photo";
            ++whole;
        }
        return whole;
    }
};

// What is still on its way when the quit comes: photos being encoded, a
// photo or a scene's thumbnail whose frame comes only after the quit. The
// reply waits for each, and the camera stops only after them (it gives the
// frames).
TEST(ShutdownPhotosTest, TheQuitWaitsForWhatWasPressedBeforeItThenStopsTheCamera) {
    const struct {
        const char* name;
        std::function<void(PhotoQuitHarness&)> before;  // before the quit
        std::function<void(PhotoQuitHarness&)> after;   // once it waits
        size_t waitedFor;
        double stillWaitingAt;  // seconds into the wait
        size_t photos;
        bool thumbnail;
    } cases[] = {
        {"three photos being encoded",
         [](PhotoQuitHarness& h) {
             h.takePhotos(3);
             ASSERT_TRUE(h.held.waitForEntered(1));
         },
         [](PhotoQuitHarness& h) { h.held.release(); }, 3, 29.999, 3, false},
        {"a photo whose frame comes after the quit", [](PhotoQuitHarness& h) { h.model->takePhoto(); },
         [](PhotoQuitHarness& h) {
             h.held.release();
             h.deliverFrame();
         },
         // In a quit a frame is waited for 2 s from the press.
         1, 1.999, 1, false},
        {"a scene whose thumbnail's frame comes after the quit",
         [](PhotoQuitHarness& h) {
             h.camera()->setPosition(hollowkit::CameraPosition{10, 5, std::nullopt});
             h.model->saveCurrentPositionAsScene();
         },
         [](PhotoQuitHarness& h) { h.deliverFrame(); }, 1, 1.999, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hollowkit::testsupport::LogCapture log;
        PhotoQuitHarness h;
        c.before(h);
        h.quit();
        EXPECT_EQ(h.model->unfinishedPhotos(), c.waitedFor);
        const double bound = 10.0 * static_cast<double>(c.waitedFor);
        EXPECT_EQ(log.count("Waiting for " + std::to_string(c.waitedFor) + " photos to be saved (at most " +
                            std::to_string(static_cast<int>(bound)) + " s)"),
                  1);
        h.main.advanceSeconds(c.stillWaitingAt);
        EXPECT_EQ(h.replies(), 0u) << "the reply went before the photos were written";
        EXPECT_FALSE(h.cameraStopAsked()) << "the camera stopped under the photos";

        c.after(h);
        ASSERT_TRUE(h.main.waitFor([&] { return h.replies() == 1; }, std::chrono::seconds(60)));
        EXPECT_TRUE(h.cameraStopAsked());
        EXPECT_EQ(h.model->unfinishedPhotos(), 0u);
        EXPECT_EQ(h.wholePhotos(), c.photos);
        EXPECT_EQ(h.notices().size(), c.photos + (c.thumbnail ? 1 : 0)) << "each photo says it was saved";
        const auto stored = decodeScenes([&] {
            const auto bytes = h.settings.get<Bytes>("scenes");
            return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
        }());
        EXPECT_EQ(stored && stored->scenes.size() == 1 && stored->scenes[0].thumbnail.has_value(), c.thumbnail)
            << "the stored scene's thumbnail";
        EXPECT_EQ(log.count("were not saved within"), 0);
    }
}

// While the quit waits for photos the window is told how many are left, and
// a second quit (Ctrl+Q again, a signal) neither ends the wait nor starts a
// second shutdown: it is told it still waits.
TEST(ShutdownPhotosTest, TheQuitSaysWhatItWaitsForAndAnotherQuitWaitsOnAndIsToldSo) {
    hollowkit::testsupport::LogCapture log;
    PhotoQuitHarness h;
    h.takePhotos(3);
    ASSERT_TRUE(h.held.waitForEntered(1));
    EXPECT_FALSE(h.state().quitProgress);
    h.quit();
    EXPECT_EQ(h.state().quitProgress, (QuitProgress{0, 0, false, 3, false}));
    for (int again = 0; again < 3; ++again) {
        h.model->afterClosingSheets();
        h.model->handleTerminationRequest();
        h.main.runUntilIdle();
    }
    EXPECT_EQ(h.state().quitProgress, (QuitProgress{0, 0, false, 3, true}));
    EXPECT_EQ(log.count("Quit asked for again; still saving what was recorded before quitting"), 1);
    h.main.advanceSeconds(29.999);
    EXPECT_EQ(h.replies(), 0u) << "a second quit cut the photos' wait short";

    h.held.release();
    ASSERT_TRUE(h.main.waitFor([&] { return h.replies() == 1; }, std::chrono::seconds(60)));
    EXPECT_EQ(h.wholePhotos(), 3u);
    // Counted down as each is saved, then only the camera is left.
    std::vector<int> counts;
    for (const auto& progress : h.recorder->values<Field::quitProgress>()) {
        ASSERT_TRUE(progress);
        if (counts.empty() || counts.back() != progress->photos) counts.push_back(progress->photos);
    }
    EXPECT_EQ(counts, (std::vector<int>{3, 2, 1, 0}));
    EXPECT_EQ(h.state().quitProgress, (QuitProgress{0, 0, false, 0, true}));
}

// A photo or a thumbnail whose frame never comes holds the quit no longer
// than the frame wait: 2 s, then the photo fails aloud and the scene keeps
// no picture.
TEST(ShutdownPhotosTest, APhotoAndAThumbnailWhoseFrameNeverComesHoldTheQuitForTheFrameWaitOnly) {
    PhotoQuitHarness h;
    h.camera()->setPosition(hollowkit::CameraPosition{10, 5, std::nullopt});
    h.model->saveCurrentPositionAsScene();
    h.model->takePhoto();
    h.quit();
    EXPECT_EQ(h.model->unfinishedPhotos(), 2u);
    h.main.advanceSeconds(1.999);
    EXPECT_EQ(h.replies(), 0u);
    h.main.advanceSeconds(0.001);
    EXPECT_EQ(h.replies(), 1u);
    EXPECT_EQ(h.notices().back(), "Photo failed: no picture arrived");
    EXPECT_FALSE(h.state().scenes.at(0).thumbnail.has_value());
    h.deliverFrame();
    h.main.advanceSeconds(5);
    EXPECT_FALSE(h.state().scenes.at(0).thumbnail.has_value()) << "a later frame became the scene's picture";
    EXPECT_EQ(h.wholePhotos(), 0u);
}

// Outside a quit a photo and a thumbnail wait for their frame as long as it
// takes; the quit bounds the wait at 2 s from each request, so a request
// that waited long already holds it no longer, and one made just before it
// is still answered by a frame that comes in time.
TEST(ShutdownPhotosTest, TheQuitBoundsTheFrameWaitFromEachRequest) {
    const struct {
        const char* name;
        double askedBeforeQuit;  // seconds
        std::optional<double> frameAt;  // seconds into the quit
        double repliedAt;               // seconds into the quit, when no frame comes
    } cases[] = {
        {"asked a minute before, no frame", 60, std::nullopt, 0},
        {"asked 1.5 s before, no frame", 1.5, std::nullopt, 0.5},
        {"asked 1 s before, the frame 0.5 s into the quit", 1, 0.5, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PhotoQuitHarness h;
        h.held.release();
        h.camera()->setPosition(hollowkit::CameraPosition{10, 5, std::nullopt});
        h.model->saveCurrentPositionAsScene();
        h.model->takePhoto();
        h.main.advanceSeconds(c.askedBeforeQuit);
        EXPECT_EQ(h.model->unfinishedPhotos(), 2u) << "given up before the quit";
        EXPECT_EQ(h.notices().size(), 1u) << "something was said of the photo before the quit";
        h.quit();
        if (c.frameAt) {
            h.main.advanceSeconds(*c.frameAt);
            EXPECT_EQ(h.replies(), 0u);
            h.deliverFrame();
            ASSERT_TRUE(h.main.waitFor([&] { return h.replies() == 1; }));
            EXPECT_EQ(h.notices().back(), "Photo saved");
            EXPECT_TRUE(h.state().scenes.at(0).thumbnail.has_value());
            EXPECT_EQ(h.wholePhotos(), 1u);
            continue;
        }
        if (c.repliedAt > 0) {
            h.main.advanceSeconds(c.repliedAt - 0.001);
            EXPECT_EQ(h.replies(), 0u);
            h.main.advanceSeconds(0.001);
        }
        EXPECT_EQ(h.replies(), 1u);
        EXPECT_EQ(h.notices().back(), "Photo failed: no picture arrived");
        EXPECT_FALSE(h.state().scenes.at(0).thumbnail.has_value());
        EXPECT_EQ(h.model->unfinishedPhotos(), 0u);
    }
}

// Photos that are not written in time are not waited for past their bound,
// 10 s each and 60 s at most: the quit goes on, said in the log, and nothing
// stands under their names meanwhile (the process may end any moment now).
TEST(ShutdownPhotosTest, PhotosNotWrittenWithinTheirBoundAreLeftAndTheQuitGoesOn) {
    const struct {
        int presses;
        size_t waiting;
        double boundSeconds;
    } cases[] = {{1, 1, 10}, {3, 3, 30}, {6, 6, 60}, {12, 8, 60}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.presses) + " photos pressed");
        hollowkit::testsupport::LogCapture log;
        PhotoQuitHarness h;
        h.takePhotos(c.presses);
        ASSERT_TRUE(h.held.waitForEntered(1));
        h.quit();
        EXPECT_EQ(h.model->unfinishedPhotos(), c.waiting);
        h.main.advanceSeconds(c.boundSeconds - 0.001);
        EXPECT_EQ(h.replies(), 0u);
        h.main.advanceSeconds(0.001);
        EXPECT_EQ(h.replies(), 1u);
        EXPECT_TRUE(h.cameraStopAsked());
        EXPECT_EQ(log.count(std::to_string(c.waiting) + " photos were not saved within " +
                            std::to_string(static_cast<int>(c.boundSeconds)) + " s; going on without them"),
                  1);
        EXPECT_TRUE(std::filesystem::is_empty(h.outputFolder));
    }
}

}  // namespace
}  // namespace lumenhollow::test
