// Record from press to file: a camera delivering full-HD frames from its
// own thread, the countdown on virtual time, and the movie on disk as
// ffprobe sees it. Photos the same way, while the frames keep coming.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "../recording/recording_test_support.h"
#include "hollowkit/recording/linux/pulse_audio_input.h"
#include "hollowkit/testing/held_still_encoder.h"
#include "hollowkit/testing/private_pulse_server.h"
#include "hollowkit/testing/still_image_probe.h"
#include "lumenhollow/model/movie_sample_recorder.h"
#include "recording_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;
using hollowkit::testsupport::number;
using hollowkit::testsupport::probe;
using hollowkit::testsupport::streamOfType;
using namespace std::chrono_literals;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kSampleRate = 48000;
constexpr int kSamplesPerFrame = kSampleRate / 30;

// The video frames' times, in seconds, in display order.
std::vector<double> frameTimes(const std::filesystem::path& movie) {
    const auto result = hollowkit::CommandRunner::run(
        "/usr/bin/ffprobe",
        {"-v", "error", "-select_streams", "v:0", "-show_entries", "frame=pts_time", "-of", "csv=p=0",
         movie.string()},
        {}, /*logged=*/false);
    std::vector<double> times;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) times.push_back(std::strtod(line.c_str(), nullptr));
    }
    return times;
}

enum class Sound : uint8_t { camera, pulseMicrophone, refusedMicrophone };

// The sound server's inputs, noting how far the sound captured so far
// reaches: a loaded machine may hand the microphone's last blocks over later
// than a recorder waits for them, so the test stops once they came.
class WatchedInputs : public hollowkit::AudioInputBackend {
public:
    explicit WatchedInputs(hollowkit::AudioInputBackend& inputs) : inputs_(inputs) {}

    hollowkit::MicrophoneAccess access() const override { return inputs_.access(); }
    bool requestAccess() override { return inputs_.requestAccess(); }
    std::vector<hollowkit::AudioInputOption> inputs() override { return inputs_.inputs(); }
    std::optional<hollowkit::AudioInputOption> defaultInput() override { return inputs_.defaultInput(); }
    hollowkit::Result<std::unique_ptr<hollowkit::AudioCapture>, hollowkit::MicrophoneError> open(
        const std::string& id, hollowkit::AudioCaptureHandlers handlers) override {
        handlers.onChunk = [this, onChunk = std::move(handlers.onChunk)](hollowkit::AudioChunk chunk) {
            capturedUntil_.store(chunk.pts() + chunk.duration());
            onChunk(std::move(chunk));
        };
        return inputs_.open(id, std::move(handlers));
    }

    hollowkit::TimePoint capturedUntil() const { return capturedUntil_.load(); }

private:
    hollowkit::AudioInputBackend& inputs_;
    std::atomic<hollowkit::TimePoint> capturedUntil_{hollowkit::kDistantPast};
};

TEST(RecordingEndToEndTest, RecordCountsDownRecordsFullHDWithSoundAndSavesAPlayableMovie) {
    struct Case {
        const char* name;
        Sound sound;
    };
    const Case cases[] = {
        {"USB camera with its own sound", Sound::camera},
        {"Wi-Fi camera with this computer's microphone", Sound::pulseMicrophone},
        {"Wi-Fi camera, microphone refused", Sound::refusedMicrophone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hollowkit::PrivatePulseServer pulse;
        std::unique_ptr<hollowkit::PulseAudioInputBackend> pulseInputs;
        std::unique_ptr<WatchedInputs> watchedInputs;
        if (c.sound == Sound::pulseMicrophone) {
            if (!hollowkit::PrivatePulseServer::program()) {
                std::fprintf(stderr, "SKIPPED: pulseaudio is not installed; the microphone case is not run\n");
                continue;
            }
            const auto started = pulse.start();
            ASSERT_TRUE(started) << started.error();
            hollowkit::PulseAudioInputBackend::Options options;
            options.server = pulse.address();
            pulseInputs = std::make_unique<hollowkit::PulseAudioInputBackend>(options);
            watchedInputs = std::make_unique<WatchedInputs>(*pulseInputs);
        }
        RecordingHarness h;
        if (watchedInputs) h.audioInputs = watchedInputs.get();
        if (c.sound == Sound::refusedMicrophone) h.microphones.setAccess(hollowkit::MicrophoneAccess::denied);
        h.start(c.sound == Sound::camera);
        h.model->setRecordTarget(RecordTarget::mac);
        h.model->setCountdownSeconds(3);

        // The count, with the camera's sound flowing meanwhile when it has any.
        int64_t toneSample = 0;
        const auto cameraTone = [&](hollowkit::TimePoint pts) {
            h.camera()->deliverAudio(
                hollowkit::testsupport::toneChunk(kSampleRate, 2, toneSample, kSamplesPerFrame, pts));
            toneSample += kSamplesPerFrame;
        };
        h.model->toggleRecording();
        for (int step = 0; step < 12; ++step) {
            EXPECT_FALSE(h.model->isRecording());
            if (c.sound == Sound::camera) cameraTone(std::chrono::steady_clock::now());
            h.main.advanceSeconds(0.25);
        }
        ASSERT_TRUE(h.model->isRecording());
        if (c.sound == Sound::pulseMicrophone) {
            ASSERT_TRUE(h.main.waitFor([&] { return h.model->isMacMicrophoneRunning(); }, 20s));
            // Sound reaches the movie before the first frame does.
            ASSERT_TRUE(h.main.waitFor([&] { return h.model->tap().lastAudio() != hollowkit::kDistantPast; }, 20s));
        }

        auto camera = h.camera();
        std::optional<hollowkit::TimePoint> base;
        hollowkit::TimePoint lastPts{};
        toneSample = 0;
        camera->startFrames(30, [&](uint64_t index) {
            // A loaded machine may fall behind the encoder's start; the
            // camera then waits for the movie to take the previous frame,
            // so the count compared below is what was handed over, not what
            // the machine kept up with.
            if (auto movie = std::dynamic_pointer_cast<MovieSampleRecorder>(h.model->tap().recorder())) {
                (void)movie->movie()->sizeChanges();
            }
            if (!base) base = std::chrono::steady_clock::now();
            // The camera's own sound is counted with its frames; the
            // microphone's runs on the clock, and so do the frames beside it,
            // never closer than a camera's frame period.
            hollowkit::TimePoint pts = *base + std::chrono::nanoseconds(index * 1'000'000'000LL / 30);
            if (c.sound == Sound::pulseMicrophone) {
                pts = index == 0 ? *base : std::max(std::chrono::steady_clock::now(), lastPts + 34ms);
            }
            lastPts = pts;
            if (c.sound == Sound::camera) cameraTone(pts);
            return FakeCamera::makeFrame(kWidth, kHeight, pts);
        });
        ASSERT_TRUE(h.main.waitFor([&] { return camera->framesDelivered() >= 45; }, 30s));
        // The movie ends with the last frame; the stop follows once the
        // microphone's sound of that frame has come.
        camera->stopFrames();
        const uint64_t delivered = camera->framesDelivered();
        if (watchedInputs) {
            const hollowkit::TimePoint pictureEnd = lastPts + 34ms;
            ASSERT_TRUE(h.main.waitFor([&] { return watchedInputs->capturedUntil() >= pictureEnd; }, 30s))
                << "the microphone's sound stopped "
                << std::chrono::duration<double>(pictureEnd - watchedInputs->capturedUntil()).count()
                << " s before the last frame's end";
        }
        h.model->toggleRecording();
        ASSERT_TRUE(h.main.waitFor([&] { return !h.notices().empty() && h.notices().back() == "Video saved"; }, 60s))
            << "notices: " << h.notices().size();
        EXPECT_EQ(h.notices().size(), c.sound == Sound::refusedMicrophone ? 2u : 1u);
        if (c.sound == Sound::refusedMicrophone) {
            EXPECT_EQ(h.notices()[0], hollowkit::MicrophoneError::notAllowed().userMessage());
        }

        const auto movies = h.files(".mov");
        ASSERT_EQ(movies.size(), 1u);
        const auto probed = probe(movies[0]);
        const auto* video = streamOfType(probed, "video");
        ASSERT_NE(video, nullptr);
        EXPECT_EQ((*video)["codec_tag_string"], "hvc1");
        EXPECT_EQ((*video)["width"], kWidth);
        EXPECT_EQ((*video)["height"], kHeight);
        EXPECT_NEAR(number(*video, "nb_frames"), static_cast<double>(delivered), 1.0);
        const std::vector<double> times = frameTimes(movies[0]);
        EXPECT_NEAR(static_cast<double>(times.size()), static_cast<double>(delivered), 1.0);
        EXPECT_TRUE(std::adjacent_find(times.begin(), times.end(), std::greater_equal<>()) == times.end())
            << "frame times must rise strictly";
        const auto* audio = streamOfType(probed, "audio");
        if (c.sound == Sound::refusedMicrophone) {
            EXPECT_EQ(audio, nullptr);
        } else {
            ASSERT_NE(audio, nullptr);
            EXPECT_NEAR(number(*audio, "duration"), number(*video, "duration"), 0.15);
        }
        // Frames beside the microphone come at the clock's irregular times:
        // decoded as they are, not resampled to a constant rate, and kept in
        // the movie's own time base (ffmpeg's default, from the guessed frame
        // rate, can round two frames of a loaded machine onto one tick).
        const auto decoded = hollowkit::CommandRunner::run(
            "/usr/bin/ffmpeg",
            {"-v", "error", "-xerror", "-i", movies[0].string(), "-fps_mode", "passthrough", "-enc_time_base", "-1",
             "-f", "null", "-"},
            {}, /*logged=*/false);
        EXPECT_TRUE(decoded.status == 0 && decoded.output.empty()) << decoded.output;
    }
}

TEST(RecordingEndToEndTest, APhotoIsEncodedWhileTheCameraKeepsDeliveringAndDecodesAtTheFramesSize) {
    hollowkit::HeldStillEncoder encoder;
    RecordingHarness h;
    h.stillEncoder = &encoder;
    h.start(true);
    auto camera = h.camera();
    camera->startFrames(30, [](uint64_t) { return FakeCamera::makeFrame(kWidth, kHeight); });
    ASSERT_TRUE(h.main.waitFor([&] { return camera->framesDelivered() >= 3; }));
    h.model->takePhoto();
    ASSERT_TRUE(h.main.waitFor([&] { return encoder.entered() > 0; }));
    // The photo is being encoded and held there; frames keep coming.
    const uint64_t atEncoding = camera->framesDelivered();
    EXPECT_TRUE(h.main.waitFor([&] { return camera->framesDelivered() >= atEncoding + 15; }));
    EXPECT_TRUE(h.notices().empty());
    encoder.release();
    ASSERT_TRUE(h.waitForNotices(1));
    camera->stopFrames();
    EXPECT_EQ(h.notices(), std::vector<std::optional<std::string>>{"Photo saved"});
    const auto photos = h.files(".heic");
    ASSERT_EQ(photos.size(), 1u);
    std::string error;
    const auto image = hollowkit::decodeHeifFile(photos[0], &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->width, kWidth);
    EXPECT_EQ(image->height, kHeight);
    // Grey in, grey out.
    const auto centre = image->meanAround(kWidth / 2, kHeight / 2, 4);
    EXPECT_NEAR(centre[0], centre[1], 4);
    EXPECT_NEAR(centre[1], centre[2], 4);
}

}  // namespace
}  // namespace lumenhollow::test
