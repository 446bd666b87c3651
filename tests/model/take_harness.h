#pragma once

// The camera model set up for screen-and-camera takes: fake displays,
// pointer, keys and screen capture (a 320 x 180 main display), a composer
// the test answers, and the folder chooser. The recorders write real, small
// H.264 movies. A USB-like camera, so no sound is waited for: the movies'
// sound waits run on the virtual clock, which stands still between steps.

#include <array>
#include <chrono>
#include <memory>

#include "hollowkit/testing/fake_recording_system.h"
#include "lumenhollow/testing/fake_file_picker.h"
#include "lumenhollow/model/movie_sample_recorder.h"
#include "lumenhollow/testing/fake_take_composer.h"
#include "recording_harness.h"
#include "tests/recording/recording_test_support.h"

namespace lumenhollow::test {

struct TakeHarness : RecordingHarness {
    static constexpr int kScreenWidth = 320;
    static constexpr int kScreenHeight = 180;

    hollowkit::FakeRecordingSystem fakes;
    hollowkit::RecordingSystem system = fakes.take();
    std::shared_ptr<TakeCompositions> compositions = std::make_shared<TakeCompositions>();
    FakeFilePicker picker;
    int screenFrames = 0;

    TakeHarness() {
        fakes.displays().setDisplays({{hollowkit::FakeRecordingSystem::kMainDisplayId, 0, 0, kScreenWidth,
                                       kScreenHeight, true, false}});
        recordingSystem = &system;
        takeComposers = FakeTakeComposer::factory(compositions);
        filePicker = &picker;
    }

    // Every take's work ends (compositions fail) before the model goes.
    ~TakeHarness() {
        endRecordings([&] {
            for (size_t i = 0; i < compositions->size(); ++i) {
                compositions->finish(i, hollowkit::unexpected(hollowkit::ComposeError::exportFailed("ended")));
            }
        });
    }

    CameraModel& startTakes(bool usb = true) {
        start(usb);
        model->setCodec(hollowkit::VideoCodec::h264);
        model->setRecordScreen(true);
        main.runUntilIdle();
        return *model;
    }

    // Record, the countdown, and the capture started (not yet a frame).
    void record() {
        model->toggleRecording();
        main.advanceSeconds(CameraModel::kScreenTakeCountdownSeconds);
        main.runUntilIdle();
    }
    bool waitForCapture() {
        return main.waitFor([&] { return fakes.screenCapture().running(); }, std::chrono::seconds(10));
    }

    // One screen frame now, handed to the model when it is the first. Like
    // a capture's surface, it is handed on only once the recorder has let go
    // of the one before (written, or passed over): the recorder's queue,
    // which drops frames it has no room for as a live capture must, never
    // fills however slowly a busy machine runs it.
    void screenFrame() {
        const hollowkit::TimePoint now = main.clock().now();
        auto pixels = std::make_shared<const hollowkit::VideoFrame>(
            hollowkit::testsupport::patternFrame(kScreenWidth, kScreenHeight, screenFrames++, now));
        const std::weak_ptr<const hollowkit::VideoFrame> surface = pixels;
        const std::array<hollowkit::PlaneView, 2> planes{{{pixels->planeData(0), pixels->stride(0)},
                                                          {pixels->planeData(1), pixels->stride(1)}}};
        const hollowkit::PixelFormat format = pixels->pixelFormat();
        hollowkit::VideoFrame frame =
            hollowkit::VideoFrame::wrap(format, kScreenWidth, kScreenHeight, planes, now, std::move(pixels));
        fakes.screenCapture().emitFrame(std::move(frame));
        EXPECT_TRUE(main.waitFor([&] { return surface.expired(); }, std::chrono::seconds(10)))
            << "the screen recorder still holds the frame of " << screenFrames - 1;
    }
    bool firstScreenFrame() {
        screenFrame();
        return main.waitFor([&] { return state().recordingStarted.has_value(); }, std::chrono::seconds(10));
    }
    // One camera frame now; it returns once the camera's movie, if one is
    // recording, has taken it (its queue, bounded like the screen
    // recorder's, drops what it has no room for).
    void cameraFrame(int width = 64, int height = 36) {
        camera()->deliverFrame(FakeCamera::makeFrame(width, height, main.clock().now()));
        settleCameraMovie();
    }
    // Waits until the camera's movie has taken everything handed to it so far.
    void settleCameraMovie() {
        if (auto movie = std::dynamic_pointer_cast<MovieSampleRecorder>(model->tap().recorder())) {
            (void)movie->movie()->sizeChanges();
        }
    }

    // The primary button pressed or released at (x, y) now, as a desktop
    // tells it: the pointer shows it and its own event is heard.
    void button(int32_t x, int32_t y, bool down) {
        fakes.pointer().set(x, y, down);
        fakes.buttons().change(main.clock().now(), down, hollowkit::RootPoint{x, y}, false);
    }

    // A tenth of a second of the take: one screen and one camera frame.
    void tenthOfASecond() {
        main.advanceSeconds(0.1);
        screenFrame();
        cameraFrame();
    }

    // A take with `seconds` of screen and camera frames, 10 a second.
    bool recordTake(double seconds) {
        record();
        if (!waitForCapture() || !firstScreenFrame()) return false;
        for (int i = 0; i < static_cast<int>(seconds * 10); ++i) tenthOfASecond();
        return true;
    }

    // Runs the main executor until the take's finish has run: a
    // composition began or the take's work ended.
    bool waitForFinish(size_t compositionsBefore = 0) {
        return main.waitFor(
            [&] { return compositions->size() > compositionsBefore || !state().composeProgress.has_value(); },
            std::chrono::seconds(30));
    }

    std::vector<std::filesystem::path> takeFolders() const {
        std::vector<std::filesystem::path> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(outputFolder, error)) {
            if (entry.is_directory()) found.push_back(entry.path());
        }
        return found;
    }
};

}  // namespace lumenhollow::test
