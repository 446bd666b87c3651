// The sound of a screen-and-camera take over Wi-Fi, where this computer's
// microphone gives "Camera.mov" its sound: a microphone that cannot record
// costs the camera's movie none of its picture, and one that records gives
// it sound up to the picture's end, also the sound still on its way when
// Record is pressed.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "take_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::MicrophoneAccess;
using hollowkit::MicrophoneError;
namespace ts = hollowkit::testsupport;

constexpr int kTakeFrames = 20;  // two seconds at 10 a second
constexpr int kTakeSampleRate = 48000;
constexpr size_t kChunkFrames = kTakeSampleRate / 10;  // as long as one camera frame

// One tenth of a second of the microphone's tone, on the model's clock, and
// waits until the camera's movie has it.
bool microphoneChunk(TakeHarness& h) {
    if (!h.microphones.emitSine(440, kChunkFrames)) return false;
    const hollowkit::TimePoint now = h.main.clock().now();
    if (!h.main.waitFor([&] { return h.model->tap().lastAudio() == now; })) return false;
    h.settleCameraMovie();
    return true;
}

// Record over Wi-Fi, the first screen frame, then kTakeFrames screen and camera
// frames; `soundUntil` chunks of sound come with them (none: no microphone).
void recordWirelessTake(TakeHarness& h, int soundUntil) {
    h.startTakes(false);
    h.record();
    ASSERT_TRUE(h.waitForCapture());
    ASSERT_TRUE(h.firstScreenFrame());
    h.microphones.setTimelineStart(h.main.clock().now());
    if (soundUntil > 0) {
        ASSERT_TRUE(microphoneChunk(h));
    }
    for (int i = 1; i <= kTakeFrames; ++i) {
        h.main.advanceSeconds(0.1);
        h.screenFrame();
        if (i < soundUntil) {
            ASSERT_TRUE(microphoneChunk(h));
        }
        h.cameraFrame();
    }
}

std::filesystem::path cameraMovie(const TakeHarness& h) { return h.compositions->last().request.camera; }

double streamEnd(const nlohmann::json& stream) {
    return ts::number(stream, "start_time") + ts::number(stream, "duration");
}

// The microphone's start has ended before the first frame: a microphone
// that was refused, would not open or found no sound server is known not
// to record, so the camera's movie starts with that frame instead of
// waiting a second for sound.
TEST(TakeSoundTest, AMicrophoneThatCannotRecordCostsTheCamerasMovieNoPicture) {
    struct Case {
        const char* name;
        std::function<void(TakeHarness&)> setUp;
        std::string notice;
    };
    const std::string notAllowed = MicrophoneError::notAllowed().userMessage();
    const std::string unavailable = MicrophoneError::unavailable().userMessage();
    const std::vector<Case> cases{
        {"access refused", [](TakeHarness& h) { h.microphones.setAccess(MicrophoneAccess::denied); }, notAllowed},
        {"access asked and refused",
         [](TakeHarness& h) {
             h.microphones.setAccess(MicrophoneAccess::notDetermined);
             h.microphones.setAccessAnswer(false);
         },
         notAllowed},
        {"the input will not open",
         [](TakeHarness& h) {
             h.microphones.setOpenFailure(RecordingHarness::kBuiltIn.id, MicrophoneError::unavailable("busy"));
         },
         unavailable},
        {"no sound server",
         [](TakeHarness& h) {
             h.microphones.setInputs({});
             h.microphones.setDefaultInputId(std::nullopt);
         },
         unavailable},
        {"no sound inputs at all", [](TakeHarness& h) { h.audioInputs = nullptr; }, unavailable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TakeHarness h;
        c.setUp(h);
        recordWirelessTake(h, 0);
        EXPECT_FALSE(h.model->isMacMicrophoneRunning());
        h.model->toggleRecording();
        ASSERT_TRUE(h.waitForFinish());
        ASSERT_EQ(h.compositions->size(), 1u);
        ASSERT_FALSE(h.notices().empty());
        EXPECT_EQ(h.notices().front(), c.notice);

        const auto probed = ts::probe(cameraMovie(h));
        const auto* video = ts::streamOfType(probed, "video");
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(ts::number(*video, "nb_frames"), kTakeFrames) << "no frame lost waiting for sound";
        EXPECT_EQ(ts::streamOfType(probed, "audio"), nullptr);
    }
}

// Record stops the frames at once, but the sound of the last frames is still
// on its way: it goes into "Camera.mov" (so its sound reaches the picture's
// end and the finish completes on it, not on the second it would wait for
// sound), and the microphone stops once the movie is complete.
TEST(TakeSoundTest, TheCamerasMovieTakesTheSoundOfItsLastFramesArrivingAfterTheStop) {
    constexpr int kSoundAtStop = 15;  // chunks delivered before Record is pressed
    TakeHarness h;
    ASSERT_NO_FATAL_FAILURE(recordWirelessTake(h, kSoundAtStop));
    ASSERT_TRUE(h.model->isMacMicrophoneRunning());
    h.model->toggleRecording();
    EXPECT_FALSE(h.model->hasScreenTake());
    // The rest, up to the end of the last frame.
    for (int chunk = kSoundAtStop; chunk <= kTakeFrames; ++chunk) {
        EXPECT_TRUE(h.microphones.emitSine(440, kChunkFrames)) << "the microphone still runs";
    }
    ASSERT_TRUE(h.waitForFinish());
    ASSERT_EQ(h.compositions->size(), 1u);
    EXPECT_TRUE(h.main.waitFor([&] { return h.microphones.openCaptureCount() == 0; }));
    EXPECT_FALSE(h.model->isMacMicrophoneRunning());
    EXPECT_EQ(h.model->tap().recorder(), nullptr);

    const auto probed = ts::probe(cameraMovie(h));
    const auto* video = ts::streamOfType(probed, "video");
    const auto* audio = ts::streamOfType(probed, "audio");
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(ts::number(*video, "nb_frames"), kTakeFrames);
    // Within one frame (or one chunk, the same tenth of a second).
    EXPECT_NEAR(streamEnd(*audio), streamEnd(*video), 0.1);
}

}  // namespace
}  // namespace lumenhollow::test
