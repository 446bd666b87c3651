#pragma once

// The camera model set up for recording: the output folder in a fresh
// temporary folder, fake sound inputs and a counting process activity, and
// a preview sink that keeps no frames (full-size frames would pile up).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "hollowkit/testing/fake_audio_input.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/testing/fake_power_assertion.h"
#include "lumenhollow/testing/state_recorder.h"
#include "model_harness.h"

namespace lumenhollow::test {

class CountOnlySink final : public VideoSink {
public:
    void enqueue(const hollowkit::VideoFrame&) override { ++enqueued_; }
    bool hasFailed() const override { return false; }
    void flush() override {}
    void flushRemovingImage() override {}
    int enqueued() const { return enqueued_; }

private:
    int enqueued_ = 0;
};

struct RecordingHarness : ModelHarness {
    hollowkit::testsupport::TempDir dir;
    hollowkit::FakeAudioInputBackend microphones;
    FakePowerAssertion activity;
    hollowkit::AudioInputBackend* audioInputs = &microphones;
    const hollowkit::StillEncoder* stillEncoder = nullptr;
    hollowkit::RecordingSystem* recordingSystem = nullptr;
    // The movies' writers; the FFmpeg ones when empty.
    hollowkit::MovieWriterFactory movieWriters;
    TakeComposerFactory takeComposers;
    MovieLengthProbe movieLengths;  // the library's reader when empty
    FilePicker* filePicker = nullptr;
    std::shared_ptr<CountOnlySink> preview = std::make_shared<CountOnlySink>();
    std::unique_ptr<StateRecorder> recorder;

    static inline const hollowkit::AudioInputOption kBuiltIn{"alsa_input.builtin", "Built-in Microphone"};
    static inline const hollowkit::AudioInputOption kHeadset{"alsa_input.headset", "Headset"};

    RecordingHarness() {
        outputFolder = dir.path() / "Lumenhollow";
        microphones.setInputs({kBuiltIn, kHeadset});
        microphones.setDefaultInputId(kBuiltIn.id);
    }

    // A movie still finishing would write into the removed folder and post
    // to the gone executor: every one completes first.
    ~RecordingHarness() {
        endRecordings();
        recorder.reset();
        model.reset();
        main.runUntilIdle();
    }

    // Stops what records and waits until no movie is recorded or finished
    // any more (bounded); `eachLook` runs at every look, for what the test
    // must let go meanwhile. A movie that does not end is never waited for
    // further: the model's end would complete it and wait without bound.
    // Nor is anything waited for once the test has failed, when what it
    // waited for may never come: a movie still being finished then ends the
    // test program at once, saying where each thread stood.
    void endRecordings(const std::function<void()>& eachLook = {}) {
        if (!model) return;
        model->stopRecording({});
        const bool failed = ::testing::Test::HasFailure();
        const bool ended = main.waitFor(
            [&] {
                if (eachLook) eachLook();
                return activity.active() == 0;
            },
            failed ? std::chrono::seconds(0) : std::chrono::seconds(60));
        if (ended) return;
        if (!failed) ADD_FAILURE() << "a movie was still being finished a minute after the stop";
        std::fprintf(stderr,
                     "The test failed while a movie was still being finished; the test program ends here rather "
                     "than wait for it. Its threads:\n%s",
                     hollowkit::testsupport::describeThreads().c_str());
        std::fflush(nullptr);
        std::_Exit(EXIT_FAILURE);
    }

    // `usb`: the USB-like camera (no card); otherwise the wireless-like one.
    CameraModel& start(bool usb) {
        cameras.setPocketConnected(usb);
        CameraModelServices s = services();
        s.displayLayer = preview;
        s.notchDisplayLayer = preview;
        s.audioInputs = audioInputs;
        s.powerAssertion = &activity;
        s.stillEncoder = stillEncoder;
        s.recordingSystem = recordingSystem;
        s.takeComposers = takeComposers;
        s.movieLengths = movieLengths;
        s.filePicker = filePicker;
        // Waits for the encoder instead of dropping, so every frame handed
        // to the movie is in it.
        hollowkit::FfmpegMovieWriterOptions options;
        options.realTime = false;
        s.movieWriters = movieWriters ? movieWriters : hollowkit::ffmpegMovieWriterFactory(options);
        model = CameraModel::create(std::move(s));
        model->camera().start();
        main.runUntilIdle();
        emit(hollowkit::CameraEvent::stats(picture(1920, 1080)));
        recorder = std::make_unique<StateRecorder>(model);
        return *model;
    }

    std::vector<std::optional<std::string>> notices() const { return recorder->values<Field::notice>(); }

    // Runs the main executor until `count` notices were shown (bounded).
    bool waitForNotices(size_t count) {
        return main.waitFor([&] { return recorder->count(Field::notice) >= count; }, std::chrono::seconds(60));
    }

    std::vector<std::filesystem::path> files(const std::string& extension) const {
        std::vector<std::filesystem::path> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(outputFolder, error)) {
            if (entry.path().extension() == extension) found.push_back(entry.path());
        }
        std::sort(found.begin(), found.end());
        return found;
    }
};

}  // namespace lumenhollow::test
