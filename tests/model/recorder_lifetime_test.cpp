// The last of a movie and of a take happens with the model: a camera thread
// caught inside the capture tap, or a take's recorders still completing,
// keep nothing of either past the model's end, and nothing of them reaches
// the main executor after it (the executor may be gone by then).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "../recording/recording_test_support.h"
#include "lumenhollow/model/movie_sample_recorder.h"
#include "recording_feeds.h"
#include "take_harness.h"

namespace lumenhollow::test {
namespace {

using namespace std::chrono_literals;
using hollowkit::testsupport::probe;
using hollowkit::testsupport::streamOfType;

std::weak_ptr<hollowkit::MovieRecorder> movieIn(CaptureTap& tap) {
    const auto entry = std::dynamic_pointer_cast<MovieSampleRecorder>(tap.recorder());
    return entry ? entry->movie() : nullptr;
}

bool isCompleteMovie(const std::filesystem::path& file) {
    return std::filesystem::exists(file) && streamOfType(probe(file), "video") != nullptr;
}

struct Hold {
    std::promise<void> entered;
    std::promise<void> letGo;
    std::shared_future<void> gate = letGo.get_future().share();
};

// Hands every sample on to the model's own entry, but the first sound waits
// inside the hand-over until the test lets it go: a camera thread caught
// inside the tap, holding what the tap gave it.
class HeldHandOver final : public SampleRecorder {
public:
    HeldHandOver(std::shared_ptr<SampleRecorder> entry, Hold& hold) : entry_(std::move(entry)), hold_(hold) {}
    void appendVideo(const hollowkit::VideoFrame& frame) override { entry_->appendVideo(frame); }
    void appendAudio(const hollowkit::AudioChunk& chunk) override {
        if (!held_.exchange(true)) {
            hold_.entered.set_value();
            hold_.gate.wait_for(60s);  // bounded: a broken build still ends
        }
        entry_->appendAudio(chunk);
    }

private:
    const std::shared_ptr<SampleRecorder> entry_;
    Hold& hold_;
    std::atomic<bool> held_ = false;
};

hollowkit::AudioChunk tone() {
    const std::vector<float> samples(480, 0.25f);
    return hollowkit::AudioChunk::copyF32(samples, 48000, 1, {});
}

// A movie stopped and still being completed (its writer's finish waits)
// takes the sound of its last frames from the tap; a camera thread is
// inside that hand-over as the model goes. The model's end waits for it, so
// the movie is completed and gone, and its completion posted, before the
// end returns.
TEST(RecorderLifetimeTest, ACameraThreadInsideTheTapAsTheModelGoesKeepsNoMovieBehind) {
    HeldFinishWriters writers;
    RecordingHarness h;
    h.movieWriters = writers.factory();
    h.start(true);
    FrameFeed feed;
    h.model->toggleRecording();
    feed.deliver(*h.model, *h.camera(), 3);
    const std::weak_ptr<hollowkit::MovieRecorder> movie = movieIn(h.model->tap());
    ASSERT_FALSE(movie.expired());
    int completions = 0;
    h.model->stopRecording([&] { ++completions; });
    ASSERT_TRUE(h.main.waitFor([&] { return writers.finishing.load(); }, 30s));

    Hold hold;
    CaptureTap& tap = h.model->tap();
    tap.setRecorder(std::make_shared<HeldHandOver>(tap.recorder(), hold));
    const std::shared_ptr<FakeCamera> camera = h.camera();
    std::jthread delivery([camera] { camera->deliverAudio(tone()); });
    ASSERT_EQ(hold.entered.get_future().wait_for(30s), std::future_status::ready);

    // The delivery (which keeps the tap) and the movie's finish are let go
    // once the model's end waits for the delivery, or once that end is over
    // where it does not wait.
    const uint64_t waitedBefore = tap.waitedChanges();
    std::atomic<bool> modelGone = false;
    std::jthread releaser([&] {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!modelGone.load() && tap.waitedChanges() == waitedBefore &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        hold.letGo.set_value();
        writers.letGo.set_value();
    });
    h.recorder.reset();
    h.model.reset();
    const bool movieWentWithTheModel = movie.expired();
    h.main.runUntilIdle();
    const int completedWithTheModel = completions;
    h.main.close();
    modelGone = true;
    releaser.join();
    delivery.join();

    EXPECT_TRUE(movieWentWithTheModel) << "a camera thread held the movie past the model";
    EXPECT_EQ(completedWithTheModel, 1) << "the movie's completion was left to a camera thread";
    EXPECT_EQ(h.main.lateTasks(), 0u) << "posted to the main executor after the model was gone";
    const std::vector<std::filesystem::path> files = h.files(".mov");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(isCompleteMovie(files[0]));
}

// The model may go during a take, recording or stopped with its movies
// still completing, without a quit: the session goes with it, both movies
// are completed, nothing is composed, a stop's completion still runs, and
// nothing of the take reaches the main executor afterwards.
TEST(RecorderLifetimeTest, AModelGoingDuringATakeTakesTheSessionAlongAndCompletesItsMovies) {
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped, its movies completing" : "recording");
        TakeHarness h;
        h.startTakes();
        ASSERT_TRUE(h.recordTake(0.5));
        const std::weak_ptr<hollowkit::MovieRecorder> cameraMovie = movieIn(h.model->tap());
        ASSERT_FALSE(cameraMovie.expired());
        const std::vector<std::filesystem::path> folders = h.takeFolders();
        ASSERT_EQ(folders.size(), 1u);
        int completions = 0;
        if (stopped) h.model->stopRecording([&] { ++completions; });

        h.recorder.reset();
        h.model.reset();
        const bool sessionWentWithTheModel = cameraMovie.expired();
        const ScreenTake take{folders[0]};
        const bool completeWithTheModel = isCompleteMovie(take.screenURL()) && isCompleteMovie(take.cameraURL());
        h.main.runUntilIdle();
        h.main.close();

        EXPECT_TRUE(sessionWentWithTheModel) << "the take's session outlived the model";
        EXPECT_TRUE(completeWithTheModel) << "a movie was left to complete after the model";
        EXPECT_EQ(completions, stopped ? 1 : 0);
        EXPECT_EQ(h.compositions->size(), 0u);
        EXPECT_FALSE(std::filesystem::exists(take.combinedURL()));
        EXPECT_EQ(h.activity.active(), 0);
        EXPECT_EQ(h.main.lateTasks(), 0u) << "posted to the main executor after the model was gone";
    }
}

// A test that fails while its movie's finish never comes ends its program at
// once, saying where each thread stood, instead of waiting for the movie in
// the model's end without bound (a failed wait for a notice was once
// followed by five minutes of nothing until the test runner's limit).
TEST(RecordingHarnessEndTest, AFailedTestWhoseMovieNeverFinishesEndsAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            HeldFinishWriters writers;  // never let go
            RecordingHarness h;
            h.movieWriters = writers.factory();
            h.start(true);
            FrameFeed feed;
            h.model->toggleRecording();
            feed.deliver(*h.model, *h.camera(), 3);
            h.model->toggleRecording();
            if (!h.main.waitFor([&] { return writers.finishing.load(); }, 30s)) std::_Exit(2);
            ADD_FAILURE() << "the test's own failure";
        },
        testing::ExitedWithCode(EXIT_FAILURE), "still being finished(.|\n)*HK.MovieRecorde");
}

}  // namespace
}  // namespace lumenhollow::test
