#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <limits>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "../recording/recording_test_support.h"
#include "lumenhollow/model/movie_sample_recorder.h"
#include "recording_feeds.h"
#include "recording_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;
using hollowkit::CardRecordingState;
using namespace std::chrono_literals;

std::vector<std::string> cardCommands(const FakeCamera& camera) {
    std::vector<std::string> found;
    for (const std::string& command : camera.commands()) {
        if (command.starts_with("setCardRecording")) found.push_back(command);
    }
    return found;
}

const std::string kVideoSaved = "Video saved";

// Whether the camera's frames go into a movie (a finishing one takes only sound).
bool framesGoToAMovie(CameraModel& model) {
    const auto entry = std::dynamic_pointer_cast<MovieSampleRecorder>(model.tap().recorder());
    return entry && entry->takes() == MovieSampleRecorder::Takes::frameAndSound;
}

TEST(RecordingControlTest, RecordTakesTheFirstStepThatMatches) {
    struct Case {
        const char* name;
        bool usb;
        std::function<void(RecordingHarness&)> before;
        std::vector<std::string> cardCommands;  // after Record
        bool recording;                         // recordingStarted after Record
        bool movie;                             // a movie is being written after Record
        std::optional<int> countdown;
    };
    const auto target = [](RecordTarget t) { return [t](RecordingHarness& h) { h.model->setRecordTarget(t); }; };
    const std::vector<Case> cases{
        {"USB, target card: the card is not there, so a movie", true, target(RecordTarget::camera), {}, true, true,
         std::nullopt},
        {"Wi-Fi, target card: only the command", false, target(RecordTarget::camera), {"setCardRecording on"}, false,
         false, std::nullopt},
        {"Wi-Fi, target this computer: a movie", false, target(RecordTarget::mac), {}, true, true, std::nullopt},
        {"no live picture: nothing", true,
         [](RecordingHarness& h) { h.emit(CameraEvent::stats(picture(1920, 1080, false))); }, {}, false, false,
         std::nullopt},
        {"countdown 2", true, [](RecordingHarness& h) { h.model->setCountdownSeconds(2); }, {}, false, false, 2},
        {"screen too with countdown 0: three seconds", true,
         [](RecordingHarness& h) { h.model->setRecordScreen(true); }, {}, false, false, 3},
        {"screen too with countdown 5: five seconds", true,
         [](RecordingHarness& h) {
             h.model->setRecordScreen(true);
             h.model->setCountdownSeconds(5);
         },
         {}, false, false, 5},
        {"during a countdown: cancelled, nothing starts", true,
         [](RecordingHarness& h) {
             h.model->setCountdownSeconds(3);
             h.model->toggleRecording();
         },
         {}, false, false, std::nullopt},
        {"a movie runs and the target was changed to the card: the movie stops", false,
         [](RecordingHarness& h) {
             h.model->setRecordTarget(RecordTarget::mac);
             h.model->toggleRecording();
             h.model->setRecordTarget(RecordTarget::camera);
         },
         {}, false, false, std::nullopt},
        {"the card records (started on the camera), target this computer: the card stops", false,
         [](RecordingHarness& h) {
             h.model->setRecordTarget(RecordTarget::mac);
             h.emit(CameraEvent::cardRecording({true, false, 7}));
         },
         {"setCardRecording off"}, true, false, std::nullopt},
        {"the card start is not confirmed yet: withdrawn", false,
         [](RecordingHarness& h) {
             h.model->toggleRecording();
             h.camera()->emit(CameraEvent::cardRecording({false, true, std::nullopt}));
             h.main.advanceSeconds(1);
         },
         {"setCardRecording on", "setCardRecording off"}, false, false, std::nullopt},
        {"the card start went unconfirmed for 5 s: Record asks again", false,
         [](RecordingHarness& h) {
             h.model->toggleRecording();
             h.main.advanceSeconds(5);
         },
         {"setCardRecording on", "setCardRecording on"}, false, false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHarness h;
        h.start(c.usb);
        c.before(h);
        h.main.runUntilIdle();
        h.model->toggleRecording();
        h.main.runUntilIdle();
        EXPECT_EQ(cardCommands(*h.camera()), c.cardCommands);
        EXPECT_EQ(h.model->isRecording(), c.recording);
        EXPECT_EQ(framesGoToAMovie(*h.model), c.movie);
        EXPECT_EQ(h.state().countdownRemaining, c.countdown);
        h.model->stopRecording({});
        h.waitForNotices(0);
    }
}

TEST(RecordingControlTest, CountdownCountsEachSecondThenShowsZeroAndNothingInOneTurnAndStarts) {
    RecordingHarness h;
    h.start(true);
    h.model->setCountdownSeconds(3);
    const hollowkit::WallTime pressed = h.main.clock().wallNow();
    h.recorder->clear();
    h.model->toggleRecording();
    using Values = std::vector<std::optional<int>>;
    const struct {
        double advance;
        Values shown;
        bool recording;
    } steps[] = {
        {0.0, {3}, false},
        {0.999, {3}, false},
        {0.001, {3, 2}, false},
        {1.0, {3, 2, 1}, false},
        {0.999, {3, 2, 1}, false},
        {0.001, {3, 2, 1, 0, std::nullopt}, true},
    };
    for (const auto& step : steps) {
        h.main.advanceSeconds(step.advance);
        EXPECT_EQ(h.recorder->values<Field::countdownRemaining>(), step.shown);
        EXPECT_EQ(h.model->isRecording(), step.recording);
    }
    EXPECT_EQ(h.state().recordingStarted, pressed + 3s);
    // 0 and nothing are told one after the other, then the start.
    const std::vector<Field> fields = h.recorder->fields();
    ASSERT_GE(fields.size(), 6u);
    EXPECT_EQ(std::vector<Field>(fields.begin(), fields.begin() + 6),
              (std::vector<Field>{Field::countdownRemaining, Field::countdownRemaining, Field::countdownRemaining,
                                  Field::countdownRemaining, Field::countdownRemaining, Field::recordingStarted}));
    h.model->stopRecording({});
    h.waitForNotices(1);
}

TEST(RecordingControlTest, ACancelledCountdownNeverStarts) {
    const std::vector<std::pair<const char*, std::function<void(RecordingHarness&)>>> cancels{
        {"Record again", [](RecordingHarness& h) { h.model->toggleRecording(); }},
        {"Esc", [](RecordingHarness& h) { h.model->cancelCountdown(); }},
        {"a switch of the connection", [](RecordingHarness& h) { h.model->selectConnection(ConnectionMode::wireless); }},
    };
    for (const auto& [name, cancel] : cancels) {
        SCOPED_TRACE(name);
        RecordingHarness h;
        h.start(true);
        h.model->setCountdownSeconds(3);
        h.model->toggleRecording();
        h.main.advanceSeconds(2.5);
        cancel(h);
        EXPECT_EQ(h.state().countdownRemaining, std::nullopt);
        h.main.advanceSeconds(10);
        EXPECT_FALSE(h.model->isRecording());
        EXPECT_EQ(h.model->tap().recorder(), nullptr);
        EXPECT_TRUE(h.files(".mov").empty());
    }
}

TEST(RecordingControlTest, TheCardsElapsedTimeMovesTheStartOnlyPastTwoSecondsOfDrift) {
    struct Case {
        double age;  // seconds since the shown start
        int elapsed;
        bool rebased;
    };
    const Case cases[] = {
        {41, 40, false}, {43, 40, true}, {42, 40, false}, {38, 40, false}, {37.5, 40, true}, {0.5, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.age);
        RecordingHarness h;
        h.start(false);
        const hollowkit::WallTime first = h.main.clock().wallNow();
        h.emit(CameraEvent::cardRecording({true, false, 0}));
        ASSERT_EQ(h.state().recordingStarted, first);
        h.main.advanceSeconds(c.age);
        h.emit(CameraEvent::cardRecording({true, false, c.elapsed}));
        const hollowkit::WallTime now = h.main.clock().wallNow();
        EXPECT_EQ(h.state().recordingStarted, c.rebased ? now - std::chrono::seconds(c.elapsed) : first);
    }
}

TEST(RecordingControlTest, ACardRecordingIsShownFromTheCamerasReportsAndSavedWhenItSaysSo) {
    RecordingHarness h;
    h.start(false);
    h.emit(CameraEvent::cardRecording({false, false, std::nullopt}));
    EXPECT_TRUE(h.notices().empty()) << "nothing was recording";

    h.model->toggleRecording();
    EXPECT_EQ(cardCommands(*h.camera()), std::vector<std::string>{"setCardRecording on"});
    h.emit(CameraEvent::cardRecording({false, true, std::nullopt}));
    EXPECT_FALSE(h.model->isRecording()) << "not before the camera says it records";
    h.emit(CameraEvent::cardRecording({true, false, 0}));
    ASSERT_TRUE(h.model->isRecording());
    EXPECT_TRUE(h.model->isBusy());

    h.main.advanceSeconds(12);
    h.model->toggleRecording();
    EXPECT_EQ(cardCommands(*h.camera()), (std::vector<std::string>{"setCardRecording on", "setCardRecording off"}));
    EXPECT_TRUE(h.model->isRecording()) << "until the camera reports the end";
    h.emit(CameraEvent::cardRecording({false, true, 12}));
    EXPECT_TRUE(h.model->isRecording());
    EXPECT_TRUE(h.notices().empty());
    h.emit(CameraEvent::cardRecording({false, false, std::nullopt}));
    EXPECT_FALSE(h.model->isRecording());
    EXPECT_EQ(h.notices(), (std::vector<std::optional<std::string>>{"Saved to the camera's microSD card"}));
    EXPECT_EQ(h.activity.begun(), 0) << "a card recording holds no activity";
    EXPECT_TRUE(h.files(".mov").empty());
}

// A card recording on the Wi-Fi camera, then a switch to USB (no card): the
// switch ends the card's recording state, and Record then writes a movie on
// this computer and stops it, never sending card commands to the USB camera.
TEST(RecordingControlTest, ASwitchAwayFromACardRecordingLeavesRecordWorkingOnTheNewCamera) {
    RecordingHarness h;
    h.start(false);
    h.model->setRecordTarget(RecordTarget::camera);
    h.model->toggleRecording();
    h.emit(CameraEvent::cardRecording({true, false, 0}));
    ASSERT_TRUE(h.model->isRecording());

    h.cameras.setPocketConnected(true);
    h.model->selectConnection(ConnectionMode::usb);
    h.main.runUntilIdle();
    ASSERT_EQ(h.model->camera().supportsCardRecording(), false);
    EXPECT_FALSE(h.model->isRecording());
    EXPECT_FALSE(h.model->isBusy());
    EXPECT_TRUE(h.notices().empty()) << "nothing was saved here";

    h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.model->toggleRecording();
    EXPECT_TRUE(h.model->isRecording());
    EXPECT_TRUE(framesGoToAMovie(*h.model));
    FrameFeed feed;
    feed.deliver(*h.model, *h.camera(), 3);
    h.model->toggleRecording();
    EXPECT_FALSE(h.model->isRecording());
    ASSERT_TRUE(h.waitForNotices(1));
    EXPECT_EQ(h.notices(), std::vector<std::optional<std::string>>{kVideoSaved});
    EXPECT_TRUE(cardCommands(*h.camera()).empty());
    EXPECT_EQ(h.files(".mov").size(), 1u);
}

TEST(RecordingControlTest, CardReportsDuringAMovieOnlyUpdateTheCardState) {
    RecordingHarness h;
    h.start(false);
    h.model->setRecordTarget(RecordTarget::mac);
    h.model->setWirelessMicID("off");
    h.model->toggleRecording();
    const auto started = h.state().recordingStarted;
    ASSERT_TRUE(started);
    h.main.advanceSeconds(3);
    for (const CardRecordingState report :
         {CardRecordingState{true, false, 100}, CardRecordingState{false, true, 100}, CardRecordingState{}}) {
        h.emit(CameraEvent::cardRecording(report));
        EXPECT_EQ(h.state().cardRecording, report);
        EXPECT_EQ(h.state().recordingStarted, started);
    }
    EXPECT_TRUE(h.notices().empty());
    EXPECT_NE(h.model->tap().recorder(), nullptr);
    h.model->stopRecording({});
    ASSERT_TRUE(h.waitForNotices(1));
}

// The camera's sound counts as on its way only when some arrived within the
// last second before Record: then the movie waits for it and gets a sound
// track; otherwise it starts with the first frame and has none, even when
// sound comes after that frame.
TEST(RecordingControlTest, AMovieWaitsForTheCamerasSoundOnlyWhenItCameWithinTheLastSecond) {
    const struct {
        const char* name;
        std::optional<double> soundSecondsBefore;  // the camera's last sound before Record
        bool soundTrack;
    } cases[] = {
        {"sound just now", 0.0, true},
        {"sound 0.9 s ago", 0.9, true},
        {"sound exactly 1 s ago", 1.0, false},
        {"sound 1.5 s ago", 1.5, false},
        {"never any sound", std::nullopt, false},
    };
    constexpr int kSampleRate = 48000;
    constexpr int kSamplesPerFrame = kSampleRate / 30;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHarness h;
        h.start(true);
        FrameFeed feed;
        const auto soundAt = [&](int frame) {
            h.camera()->deliverAudio(hollowkit::testsupport::toneChunk(
                kSampleRate, 2, int64_t{frame} * kSamplesPerFrame, kSamplesPerFrame,
                feed.base + std::chrono::nanoseconds(frame * 1'000'000'000LL / 30)));
        };
        if (c.soundSecondsBefore) {
            soundAt(-30);
            h.main.advanceSeconds(*c.soundSecondsBefore);
        }
        h.model->toggleRecording();
        ASSERT_TRUE(h.model->isRecording());
        // The first frame comes before any sound; the sound follows with the rest.
        feed.deliver(*h.model, *h.camera(), 1);
        for (int frame = 1; frame < 20; ++frame) {
            soundAt(frame);
            feed.deliver(*h.model, *h.camera(), 1);
        }
        h.model->toggleRecording();
        ASSERT_TRUE(h.waitForNotices(1));
        EXPECT_EQ(h.notices(), std::vector<std::optional<std::string>>{kVideoSaved});
        const auto movies = h.files(".mov");
        ASSERT_EQ(movies.size(), 1u);
        const auto probed = hollowkit::testsupport::probe(movies[0]);
        EXPECT_NE(hollowkit::testsupport::streamOfType(probed, "video"), nullptr);
        EXPECT_EQ(hollowkit::testsupport::streamOfType(probed, "audio") != nullptr, c.soundTrack);
    }
}

// How a movie ends and what is said, each as a player finds the file.
TEST(RecordingControlTest, EachEndOfAMovieSaysOneThingAndLeavesAPlayableFile) {
    struct Case {
        const char* name;
        int framesBefore;
        std::function<void(RecordingHarness&)> end;
        std::string notice;
        bool file;
    };
    const std::vector<Case> cases{
        {"Record", 20, [](RecordingHarness& h) { h.model->toggleRecording(); }, kVideoSaved, true},
        {"Record before any frame", 0, [](RecordingHarness& h) { h.model->toggleRecording(); },
         "No video frames were recorded", false},
        {"the frames stop", 20, [](RecordingHarness& h) { h.main.advanceSeconds(5.5); },
         "No picture from the camera for 5 seconds: recording stopped, video saved", true},
        {"the camera goes away", 20, [](RecordingHarness& h) { h.emit(CameraEvent::cameraOff()); },
         "The camera was disconnected: recording stopped, video saved", true},
        {"the user switches the connection", 20,
         [](RecordingHarness& h) { h.model->selectConnection(ConnectionMode::wireless); }, kVideoSaved, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHarness h;
        h.start(true);
        h.model->toggleRecording();
        ASSERT_TRUE(h.model->isRecording());
        EXPECT_EQ(h.activity.active(), 1);
        FrameFeed feed;
        feed.deliver(*h.model, *h.camera(), c.framesBefore);
        if (c.framesBefore > 0) {
            // Frames keep coming for a while: the watch must not end a movie that has them.
            h.main.advanceSeconds(4);
            feed.deliver(*h.model, *h.camera(), 1);
            h.main.advanceSeconds(4);
        }
        ASSERT_EQ(h.model->isRecording(), true);
        c.end(h);
        EXPECT_FALSE(h.model->isRecording());
        ASSERT_TRUE(h.waitForNotices(1));
        h.main.advanceSeconds(10);
        EXPECT_EQ(h.notices(), std::vector<std::optional<std::string>>{c.notice});
        EXPECT_EQ(h.activity.active(), 0);
        EXPECT_EQ(h.activity.reasons(), std::vector<std::string>{"Recording video"});
        EXPECT_EQ(h.activity.ended(), 1);
        const auto movies = h.files(".mov");
        ASSERT_EQ(movies.size(), c.file ? 1u : 0u);
        if (c.file) {
            const auto probed = hollowkit::testsupport::probe(movies[0]);
            const auto* video = hollowkit::testsupport::streamOfType(probed, "video");
            ASSERT_NE(video, nullptr);
            EXPECT_EQ(hollowkit::testsupport::number(*video, "nb_frames"), c.framesBefore + 1);
            EXPECT_EQ(hollowkit::testsupport::streamOfType(probed, "audio"), nullptr);
            EXPECT_TRUE(hollowkit::testsupport::decodesCleanly(movies[0]));
        }
    }
}

TEST(RecordingControlTest, AnOutputFolderThatCannotBeMadeStopsTheStartWithOneNotice) {
    RecordingHarness h;
    // Tests run as root, so a read-only folder would not stop them: a file
    // stands where a folder must go.
    std::ofstream(h.dir.path() / "blocker") << "x";
    h.outputFolder = h.dir.path() / "blocker" / "Lumenhollow";
    h.start(true);
    h.model->toggleRecording();
    h.main.runUntilIdle();
    ASSERT_EQ(h.notices().size(), 1u);
    EXPECT_TRUE(h.notices()[0]->starts_with("Could not create the output folder: ")) << *h.notices()[0];
    EXPECT_NE(h.notices()[0]->find("blocker"), std::string::npos);
    EXPECT_FALSE(h.model->isRecording());
    EXPECT_EQ(h.model->tap().recorder(), nullptr);
    EXPECT_EQ(h.activity.begun(), 0);
    EXPECT_EQ(h.recorder->count(Field::recordingStarted), 0u);

    h.model->takePhoto();
    ASSERT_EQ(h.notices().size(), 2u);
    EXPECT_TRUE(h.notices()[1]->starts_with("Could not create the output folder: "));
    EXPECT_EQ(h.model->tap().pendingFrameRequests(), 0u);
}

TEST(RecordingControlTest, StoppingAlwaysRunsTheCompletionOnce) {
    struct Case {
        const char* name;
        bool recording;
        bool termination;
        std::vector<std::string> cameraCommands;  // after start
    };
    const Case cases[] = {
        {"stop, nothing records", false, false, {"start"}},
        {"stop, a movie records", true, false, {"start"}},
        {"quit, nothing records: the camera stops", false, true, {"start", "stop"}},
        {"quit, a movie records: saved, then the camera stops", true, true, {"start", "stop"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHarness h;
        FakeCamera::Options slowStop;
        slowStop.stopMode = FakeCamera::StopMode::delayed;
        h.cameras.setOptions(ConnectionMode::usb, slowStop);
        h.start(true);
        if (c.recording) {
            h.model->toggleRecording();
            FrameFeed().deliver(*h.model, *h.camera(), 3);
        }
        int completions = 0;
        std::vector<std::optional<std::string>> noticesAtCompletion;
        const auto completion = [&] {
            ++completions;
            noticesAtCompletion = h.notices();
        };
        if (c.termination) {
            h.model->stopRecordingForTermination(completion);
        } else {
            h.model->stopRecording(completion);
        }
        EXPECT_EQ(completions, 0) << "never inside the call";
        EXPECT_TRUE(h.main.waitFor([&] { return c.recording ? h.notices().size() == 1 : true; }, 60s));
        h.main.advanceSeconds(2);  // the camera's stop
        EXPECT_EQ(completions, 1);
        EXPECT_EQ(h.camera()->commands(), c.cameraCommands);
        EXPECT_EQ(noticesAtCompletion,
                  c.recording ? std::vector<std::optional<std::string>>{kVideoSaved}
                              : std::vector<std::optional<std::string>>{});
        EXPECT_EQ(h.activity.active(), 0);
    }
}

TEST(RecordingControlTest, TheActivityIsHeldUntilTheLastMovieIsComplete) {
    RecordingHarness h;
    h.start(true);
    FrameFeed feed;
    h.model->toggleRecording();
    feed.deliver(*h.model, *h.camera(), 3);
    h.model->toggleRecording();  // the first movie finishes in the background
    h.model->toggleRecording();  // a second one starts at once
    feed.deliver(*h.model, *h.camera(), 3);
    ASSERT_TRUE(h.waitForNotices(1));
    EXPECT_EQ(h.activity.active(), 1) << "the second movie is still being written";
    h.model->toggleRecording();
    ASSERT_TRUE(h.waitForNotices(2));
    EXPECT_EQ(h.activity.reasons(), std::vector<std::string>{"Recording video"});
    EXPECT_EQ(h.activity.ended(), 1);
    EXPECT_EQ(h.files(".mov").size(), 2u) << "two names in the same second";
}

TEST(RecordingControlTest, QuittingRightAfterAStopWaitsForThatMovieToBeComplete) {
    HeldFinishWriters writers;
    RecordingHarness h;
    h.movieWriters = writers.factory();
    h.start(true);
    FrameFeed feed;
    h.model->toggleRecording();
    feed.deliver(*h.model, *h.camera(), 3);
    h.model->toggleRecording();  // stopped: the file is being completed
    ASSERT_TRUE(h.main.waitFor([&] { return writers.finishing.load(); }, 30s));
    ASSERT_FALSE(h.model->isRecording());

    int completions = 0;
    h.model->stopRecordingForTermination([&] { ++completions; });
    h.main.advanceSeconds(5);
    EXPECT_EQ(completions, 0) << "the quit went on while the movie was still being completed";
    EXPECT_EQ(h.camera()->commands(), std::vector<std::string>{"start"}) << "the camera stopped under the movie";

    writers.letGo.set_value();
    ASSERT_TRUE(h.main.waitFor([&] { return completions == 1; }, 60s));
    EXPECT_EQ(h.notices(), std::vector<std::optional<std::string>>{kVideoSaved});
    EXPECT_EQ(h.camera()->commands(), (std::vector<std::string>{"start", "stop"}));
    EXPECT_EQ(h.files(".mov").size(), 1u);
}

// A quit that comes while a movie records, just after an earlier one was
// stopped, finishes the newest and must still wait for the earlier one: its
// file would otherwise be cut off, and its recorder would post its
// completion after the application had ended.
TEST(RecordingControlTest, QuittingWhileRecordingWaitsAlsoForAnEarlierMovieStillBeingCompleted) {
    HeldFinishWriters writers;
    writers.held = 1;
    RecordingHarness h;
    h.movieWriters = writers.factory();
    h.start(true);
    FrameFeed feed;
    h.model->toggleRecording();
    feed.deliver(*h.model, *h.camera(), 3);
    h.model->toggleRecording();  // the first movie is being completed
    ASSERT_TRUE(h.main.waitFor([&] { return writers.finishing.load(); }, 30s));
    h.model->toggleRecording();  // the second records
    feed.deliver(*h.model, *h.camera(), 3);
    ASSERT_TRUE(h.model->isRecording());

    h.model->handleTerminationRequest();
    ASSERT_TRUE(h.waitForNotices(1)) << "the second movie is complete";
    h.main.advanceSeconds(5);
    EXPECT_EQ(h.shell.calls(), std::vector<std::string>{}) << "the quit went on under the first movie";
    EXPECT_EQ(h.camera()->commands(), std::vector<std::string>{"start"}) << "the camera stopped under the first movie";

    writers.letGo.set_value();
    ASSERT_TRUE(h.main.waitFor([&] { return !h.shell.calls().empty(); }, 60s));
    EXPECT_EQ(h.shell.calls().back(), "reply");
    EXPECT_EQ(h.notices(), (std::vector<std::optional<std::string>>{kVideoSaved, kVideoSaved}));
    EXPECT_EQ(h.camera()->commands(), (std::vector<std::string>{"start", "stop"}));
    EXPECT_EQ(h.files(".mov").size(), 2u);
}

// The model may go while a movie is still being completed: the movie is
// completed before the model's end returns, so no recorder is left to post
// to an executor that may go next, and the stop's completion still runs.
TEST(RecordingControlTest, AMovieBeingCompletedWhenTheModelGoesIsCompleteAndOutlivesNothing) {
    RecordingHarness h;
    h.start(true);
    FrameFeed feed;
    h.model->toggleRecording();
    feed.deliver(*h.model, *h.camera(), 3);
    std::weak_ptr<hollowkit::MovieRecorder> movie;
    if (const auto entry = std::dynamic_pointer_cast<MovieSampleRecorder>(h.model->tap().recorder())) {
        movie = entry->movie();
    }
    ASSERT_FALSE(movie.expired());
    int completions = 0;
    h.model->stopRecording([&] { ++completions; });
    h.recorder.reset();
    h.model.reset();

    EXPECT_TRUE(movie.expired()) << "a recorder outlived the model";
    const std::vector<std::filesystem::path> files = h.files(".mov");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(hollowkit::testsupport::streamOfType(hollowkit::testsupport::probe(files[0]), "video"))
        << "not a complete movie";
    h.main.runUntilIdle();
    EXPECT_EQ(completions, 1);
}

}  // namespace
}  // namespace lumenhollow::test
