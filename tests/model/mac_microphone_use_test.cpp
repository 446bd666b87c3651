#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "../recording/recording_test_support.h"
#include "lumenhollow/model/movie_sample_recorder.h"
#include "recording_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::MicrophoneAccess;
using hollowkit::MicrophoneError;
using namespace std::chrono_literals;

const std::string kNotAllowed = MicrophoneError::notAllowed().userMessage();
const std::string kNotConnected = MicrophoneError::unavailable().userMessage();

// Frames and microphone sound on the test's thread, on the real monotonic
// clock the fake microphone stamps its sound with; each waits until the
// movie has taken it.
void feed(RecordingHarness& h, int frames, bool sound) {
    const hollowkit::TimePoint base = std::chrono::steady_clock::now();
    h.microphones.setTimelineStart(base);
    if (sound) {
        // The movie learns the sound's format before the first frame.
        h.microphones.emitSine(440, 1600);
        EXPECT_TRUE(h.main.waitFor([&] { return h.model->tap().lastAudio() != hollowkit::kDistantPast; }));
    }
    for (int i = 0; i < frames; ++i) {
        if (sound) h.microphones.emitSine(440, 1600);
        h.camera()->deliverFrame(FakeCamera::makeFrame(64, 36, base + std::chrono::nanoseconds(i * 1'000'000'000LL / 30)));
        if (auto movie = std::dynamic_pointer_cast<MovieSampleRecorder>(h.model->tap().recorder())) {
            (void)movie->movie()->sizeChanges();
        }
    }
}

// Over Wi-Fi every movie takes its sound from this computer, unless the
// choice is "off"; over USB never. Whatever stops the microphone from
// recording is said once, and the movie is written from its first frame
// without waiting for sound that will not come.
TEST(MacMicrophoneUseTest, TheChoiceAndTheSystemDecideWhetherAMovieGetsTheComputersSound) {
    struct Case {
        const char* name;
        bool usb;
        std::string choice;
        std::function<void(hollowkit::FakeAudioInputBackend&)> setUp;
        std::vector<std::string> opened;
        std::vector<std::optional<std::string>> notices;
        bool sound;
        int accessRequests;
    };
    const auto none = [](hollowkit::FakeAudioInputBackend&) {};
    const std::string builtIn = RecordingHarness::kBuiltIn.id;
    const std::string headset = RecordingHarness::kHeadset.id;
    const std::vector<Case> cases{
        {"Wi-Fi, the default input", false, "", none, {builtIn}, {"Video saved"}, true, 0},
        {"Wi-Fi, a chosen input", false, headset, none, {headset}, {"Video saved"}, true, 0},
        {"Wi-Fi, off", false, "off", none, {}, {"Video saved"}, false, 0},
        {"USB, whatever the choice", true, headset, none, {}, {"Video saved"}, false, 0},
        {"refused before", false, "",
         [](auto& m) { m.setAccess(MicrophoneAccess::denied); }, {}, {kNotAllowed, "Video saved"}, false, 0},
        {"asked now and refused", false, "",
         [](auto& m) {
             m.setAccess(MicrophoneAccess::notDetermined);
             m.setAccessAnswer(false);
         },
         {}, {kNotAllowed, "Video saved"}, false, 1},
        {"asked now and allowed", false, "",
         [](auto& m) { m.setAccess(MicrophoneAccess::notDetermined); }, {builtIn}, {"Video saved"}, true, 1},
        // A remembered input that was unplugged: the default one records, and says so.
        {"the chosen input is gone", false, "alsa_input.unplugged", none, {builtIn},
         {std::string(CameraModel::kMissingMicrophoneNotice), "Video saved"}, true, 0},
        {"the input will not open", false, headset,
         [](auto& m) { m.setOpenFailure(RecordingHarness::kHeadset.id, MicrophoneError::unavailable("gone")); },
         {headset}, {kNotConnected, "Video saved"}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHarness h;
        c.setUp(h.microphones);
        h.start(c.usb);
        h.model->setRecordTarget(RecordTarget::mac);
        h.model->setWirelessMicID(c.choice);
        EXPECT_EQ(h.model->usesMacMicrophone(), !c.usb && c.choice != "off");
        h.model->toggleRecording();
        ASSERT_TRUE(h.model->isRecording());
        // The start has ended one way or the other before the frames come.
        EXPECT_TRUE(h.main.waitFor([&] {
            return c.sound ? h.model->isMacMicrophoneRunning() : h.notices().size() + 1 == c.notices.size();
        }));
        feed(h, 30, c.sound);
        h.model->toggleRecording();
        ASSERT_TRUE(h.waitForNotices(c.notices.size()));
        EXPECT_EQ(h.notices(), c.notices);
        EXPECT_EQ(h.microphones.openedIds(), c.opened);
        EXPECT_EQ(h.microphones.requestAccessCalls(), c.accessRequests);
        EXPECT_EQ(h.microphones.openCaptureCount(), 0) << "stopped with its movie";

        const auto movies = h.files(".mov");
        ASSERT_EQ(movies.size(), 1u);
        const auto probed = hollowkit::testsupport::probe(movies[0]);
        const auto* video = hollowkit::testsupport::streamOfType(probed, "video");
        ASSERT_NE(video, nullptr);
        // No frame was held back waiting for sound.
        EXPECT_EQ(hollowkit::testsupport::number(*video, "nb_frames"), 30);
        EXPECT_EQ(hollowkit::testsupport::streamOfType(probed, "audio") != nullptr, c.sound);
    }
}

// The microphone's sound arrives after it was captured: the sound of the last
// frames, still on its way when Record is pressed, goes into the movie, and
// the microphone stops once the movie is complete.
TEST(MacMicrophoneUseTest, SoundOfTheLastFramesArrivingAfterRecordIsPressedIsInTheMovie) {
    RecordingHarness h;
    h.start(false);
    h.model->setRecordTarget(RecordTarget::mac);
    h.model->toggleRecording();
    ASSERT_TRUE(h.main.waitFor([&] { return h.model->isMacMicrophoneRunning(); }));
    const hollowkit::TimePoint base = std::chrono::steady_clock::now();
    h.microphones.setTimelineStart(base);
    h.microphones.emitSine(440, 1600);
    ASSERT_TRUE(h.main.waitFor([&] { return h.model->tap().lastAudio() != hollowkit::kDistantPast; }));
    // Thirty frames; the sound of the last ten is still on its way.
    for (int i = 0; i < 30; ++i) {
        if (i > 0 && i < 20) h.microphones.emitSine(440, 1600);
        h.camera()->deliverFrame(FakeCamera::makeFrame(64, 36, base + std::chrono::nanoseconds(i * 1'000'000'000LL / 30)));
        if (auto movie = std::dynamic_pointer_cast<MovieSampleRecorder>(h.model->tap().recorder())) {
            (void)movie->movie()->sizeChanges();
        }
    }
    h.model->toggleRecording();
    EXPECT_FALSE(h.model->isRecording());
    for (int i = 20; i < 30; ++i) h.microphones.emitSine(440, 1600);
    ASSERT_TRUE(h.waitForNotices(1));
    EXPECT_EQ(h.notices(), std::vector<std::optional<std::string>>{"Video saved"});
    EXPECT_FALSE(h.model->isMacMicrophoneRunning());
    EXPECT_EQ(h.model->tap().recorder(), nullptr);

    const auto movies = h.files(".mov");
    ASSERT_EQ(movies.size(), 1u);
    const auto probed = hollowkit::testsupport::probe(movies[0]);
    const auto* video = hollowkit::testsupport::streamOfType(probed, "video");
    const auto* audio = hollowkit::testsupport::streamOfType(probed, "audio");
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(hollowkit::testsupport::number(*video, "nb_frames"), 30);
    EXPECT_NEAR(hollowkit::testsupport::number(*audio, "duration"), 1.0, 0.03);
}

// A recording that ends while its microphone is still starting leaves no
// microphone running, whether it was waiting for access or for its device.
TEST(MacMicrophoneUseTest, AMicrophoneStillStartingWhenItsRecordingEndsNeverRuns) {
    for (const bool waitingForDevice : {true, false}) {
        SCOPED_TRACE(waitingForDevice ? "opening the device" : "asking for access");
        RecordingHarness h;
        if (waitingForDevice) {
            h.microphones.holdOpens();
        } else {
            h.microphones.setAccess(MicrophoneAccess::notDetermined);
        }
        h.start(false);
        h.model->setRecordTarget(RecordTarget::mac);
        h.model->toggleRecording();
        if (waitingForDevice) {
            ASSERT_TRUE(h.microphones.waitForHeldOpen());
        }
        h.model->toggleRecording();
        h.model->toggleRecording();  // the next recording starts its own microphone
        h.model->toggleRecording();
        if (waitingForDevice) h.microphones.releaseOpens();
        ASSERT_TRUE(h.waitForNotices(2));
        // Whatever was still on its way has arrived.
        h.main.waitFor([&] { return h.microphones.openCaptureCount() == 0 && !h.model->isMacMicrophoneRunning(); });
        h.main.advanceSeconds(1);
        EXPECT_EQ(h.microphones.openCaptureCount(), 0);
        EXPECT_FALSE(h.model->isMacMicrophoneRunning());
        EXPECT_EQ(h.notices(), (std::vector<std::optional<std::string>>{"No video frames were recorded",
                                                                        "No video frames were recorded"}));
    }
}

TEST(MacMicrophoneUseTest, AMicrophoneThatFailsWhileRecordingIsToldAndTheMovieGoesOn) {
    RecordingHarness h;
    h.start(false);
    h.model->setRecordTarget(RecordTarget::mac);
    h.model->toggleRecording();
    ASSERT_TRUE(h.main.waitFor([&] { return h.model->isMacMicrophoneRunning(); }));
    feed(h, 10, true);
    ASSERT_TRUE(h.microphones.fail(MicrophoneError::unavailable("unplugged")));
    ASSERT_TRUE(h.waitForNotices(1));
    EXPECT_EQ(h.notices(), std::vector<std::optional<std::string>>{kNotConnected});
    EXPECT_FALSE(h.model->isMacMicrophoneRunning());
    EXPECT_TRUE(h.model->isRecording());

    int calls = 0;
    h.model->startMacMicrophone([&](bool running) {
        ++calls;
        EXPECT_TRUE(running);
    });
    ASSERT_TRUE(h.main.waitFor([&] { return calls == 1; }));
    h.model->startMacMicrophone([&](bool running) {
        ++calls;
        EXPECT_TRUE(running);
    });
    h.main.runUntilIdle();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(h.microphones.openedIds().size(), 2u) << "a second start while one runs opens nothing";
    h.model->toggleRecording();
    ASSERT_TRUE(h.waitForNotices(2));
    EXPECT_EQ(h.notices()[1], "Video saved");
    EXPECT_EQ(h.microphones.openCaptureCount(), 0);
}


// The microphone of a movie keeps running while that movie takes the sound
// of its last frames. A recording started then, after another choice, must
// record the input chosen now, not the one still running; with the same
// choice the running one goes on.
TEST(MacMicrophoneUseTest, ARecordingRightAfterAnotherRecordsTheInputChosenSince) {
    const std::string builtIn = RecordingHarness::kBuiltIn.id;
    const std::string headset = RecordingHarness::kHeadset.id;
    struct Case {
        const char* name;
        std::string first;
        std::string next;
        std::vector<std::string> opened;
        int openDuringNext;
    };
    const std::vector<Case> cases{
        {"the same choice", "", "", {builtIn}, 1},
        {"another input", "", headset, {builtIn, headset}, 1},
        {"the default after a chosen input", headset, "", {headset, builtIn}, 1},
        {"off", "", "off", {builtIn}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHarness h;
        h.start(false);
        h.model->setRecordTarget(RecordTarget::mac);
        h.model->setWirelessMicID(c.first);
        h.model->toggleRecording();
        ASSERT_TRUE(h.main.waitFor([&] { return h.model->isMacMicrophoneRunning(); }));
        // Stopped, and at once started again: the first movie has not
        // completed yet, so its microphone still runs.
        h.model->toggleRecording();
        ASSERT_TRUE(h.model->isMacMicrophoneRunning());
        h.model->setWirelessMicID(c.next);
        h.model->toggleRecording();
        ASSERT_TRUE(h.model->isRecording());
        ASSERT_TRUE(h.main.waitFor([&] {
            return h.notices().size() == 1 && h.model->isMacMicrophoneRunning() == (c.openDuringNext > 0) &&
                   h.microphones.openCaptureCount() == c.openDuringNext;
        })) << "open captures: " << h.microphones.openCaptureCount();
        EXPECT_EQ(h.microphones.openedIds(), c.opened);
        h.model->toggleRecording();
        ASSERT_TRUE(h.waitForNotices(2));
        EXPECT_EQ(h.microphones.openCaptureCount(), 0);
    }
}

}  // namespace
}  // namespace lumenhollow::test
