// A quit whose bound passes while a take's movies are still being finished
// (a busy machine's encoder) names the take: which of its movies are whole,
// which the program's end still completes, and the command that makes its
// combined movie, and keeps that for the ending's own account. A finish
// after the bound replaces what was said of that take.

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "take_harness.h"

namespace lumenhollow::test {
namespace {

// Real movie writers whose finish, for the files named ("*": every one),
// waits until the test lets it go (or the gate goes), as an encoder far
// behind does.
class FinishGate {
public:
    explicit FinishGate(std::set<std::string> held) : state_(std::make_shared<State>()) {
        state_->held = std::move(held);
    }
    ~FinishGate() { release(); }
    FinishGate(const FinishGate&) = delete;
    FinishGate& operator=(const FinishGate&) = delete;

    hollowkit::MovieWriterFactory factory() {
        hollowkit::FfmpegMovieWriterOptions options;
        options.realTime = false;
        return [state = state_, inner = hollowkit::ffmpegMovieWriterFactory(options)](
                   const hollowkit::FileInFolder& output) -> std::unique_ptr<hollowkit::MovieWriter> {
            return std::make_unique<Writer>(inner(output), output.name, state);
        };
    }

    void release() {
        {
            std::lock_guard lock(state_->mutex);
            state_->open = true;
        }
        state_->wake.notify_all();
    }
    // The finishes held now.
    int waiting() const {
        std::lock_guard lock(state_->mutex);
        return state_->waiting;
    }

private:
    struct State {
        mutable std::mutex mutex;
        std::condition_variable wake;
        std::set<std::string> held;
        bool open = false;
        int waiting = 0;
    };

    class Writer final : public hollowkit::MovieWriter {
    public:
        Writer(std::unique_ptr<hollowkit::MovieWriter> inner, std::string name, std::shared_ptr<State> state)
            : inner_(std::move(inner)), name_(std::move(name)), state_(std::move(state)) {}
        void setOnFailure(FailureHandler handler) override { inner_->setOnFailure(std::move(handler)); }
        hollowkit::Result<void, std::string> start(const hollowkit::MovieWriterSettings& settings,
                                                   hollowkit::TimePoint sessionStart) override {
            return inner_->start(settings, sessionStart);
        }
        bool isWriting() const override { return inner_->isWriting(); }
        bool readyForVideo() const override { return inner_->readyForVideo(); }
        bool readyForAudio() const override { return inner_->readyForAudio(); }
        bool appendVideo(const hollowkit::VideoFrame& frame) override { return inner_->appendVideo(frame); }
        bool appendAudio(const hollowkit::AudioChunk& chunk) override { return inner_->appendAudio(chunk); }
        std::string errorText() const override { return inner_->errorText(); }
        hollowkit::Result<void, std::string> finish(std::optional<hollowkit::TimePoint> endTime) override {
            {
                std::unique_lock lock(state_->mutex);
                if (state_->held.count(name_) != 0 || state_->held.count("*") != 0) {
                    ++state_->waiting;
                    state_->wake.wait(lock, [&] { return state_->open; });
                    --state_->waiting;
                }
            }
            return inner_->finish(endTime);
        }

    private:
        std::unique_ptr<hollowkit::MovieWriter> inner_;
        std::string name_;
        std::shared_ptr<State> state_;
    };

    std::shared_ptr<State> state_;
};

TEST(ShutdownTakesTest, AQuitThatOutlastsATakesMoviesNamesTheTakeWhatIsWholeAndTheRebuild) {
    const struct {
        const char* name;
        bool stoppedBefore;  // the take was stopped just before the quit, else the quit stops it
        std::set<std::string> held;
        TakeMovieState screen;
        TakeMovieState camera;
    } cases[] = {
        {"quit during the take, both its movies behind", false, {"Screen.mov", "Camera.mov"},
         TakeMovieState::completing, TakeMovieState::completing},
        {"quit during the take, its screen's movie behind", false, {"Screen.mov"}, TakeMovieState::completing,
         TakeMovieState::whole},
        {"quit while the stopped take finishes", true, {"Screen.mov", "Camera.mov"}, TakeMovieState::completing,
         TakeMovieState::completing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hollowkit::testsupport::LogCapture log;
        TakeHarness h;
        FinishGate gate(c.held);  // after the harness: let go before it ends the movies
        h.movieWriters = gate.factory();
        h.startTakes();
        ASSERT_TRUE(h.recordTake(0.5));
        if (c.stoppedBefore) {
            h.model->toggleRecording();
            h.main.runUntilIdle();
            ASSERT_FALSE(h.model->isRecording());
        }
        h.model->handleTerminationRequest();
        ASSERT_TRUE(h.main.waitFor([&] { return gate.waiting() == static_cast<int>(c.held.size()); }));
        // A camera's movie reported whole lets go of the camera's sound.
        if (c.camera == TakeMovieState::whole) {
            ASSERT_TRUE(h.main.waitFor([&] { return h.model->tap().recorder() == nullptr; }));
        }
        h.main.advance(CameraModel::kRecordingFinishLimit - std::chrono::seconds(1));
        EXPECT_TRUE(h.model->leftToRebuild().empty()) << "said before the bound";
        EXPECT_EQ(h.state().quitProgress, (QuitProgress{0, 1, false, 0, false})) << "the window is told of the take";
        h.main.advance(std::chrono::seconds(1));
        h.main.runUntilIdle();
        EXPECT_EQ(h.state().quitProgress, QuitProgress{}) << "waited for no longer";
        const auto calls = h.shell.calls();
        EXPECT_NE(std::find(calls.begin(), calls.end(), "reply"), calls.end()) << "the quit went on";

        ASSERT_EQ(h.takeFolders().size(), 1u);
        const ScreenTake take{h.takeFolders()[0]};
        const std::string said = takeLeftUnfinished(take, c.screen, c.camera);
        EXPECT_EQ(h.model->leftToRebuild(), std::vector<std::string>{said});
        EXPECT_EQ(log.count("Quitting: " + said), 1) << testing::PrintToString(log.lines());
        EXPECT_FALSE(log.contains("The recording was not finished")) << "the take is named, not a recording";

        // The movies finish after all: the take is whole, and said so.
        gate.release();
        ASSERT_TRUE(h.main.waitFor([&] { return h.model->leftToRebuild() != std::vector<std::string>{said}; },
                                   std::chrono::seconds(30)));
        EXPECT_EQ(h.model->leftToRebuild(), std::vector<std::string>{takeLeftToRebuild(take)});
        EXPECT_TRUE(take.hasScreenAndCamera());
        EXPECT_EQ(h.compositions->size(), 0u);
    }
}

// A plain recording's movie outlasting the bound is named too, with where it
// is: the model's end completes it, so it is not "quit without".
TEST(ShutdownTakesTest, AQuitThatOutlastsAMoviesFinishNamesTheMovie) {
    hollowkit::testsupport::LogCapture log;
    TakeHarness h;
    FinishGate gate({"*"});
    h.movieWriters = gate.factory();
    h.start(true);
    h.model->setCodec(hollowkit::VideoCodec::h264);
    h.model->toggleRecording();
    ASSERT_TRUE(h.main.waitFor([&] { return h.model->isRecording(); }));
    for (int i = 0; i < 5; ++i) h.tenthOfASecond();
    ASSERT_TRUE(h.main.waitFor([&] { return h.files(".mov").size() == 1; }));
    const std::filesystem::path movie = h.files(".mov")[0];
    ASSERT_TRUE(h.main.waitFor([&] { return h.state().recordingStarted.has_value(); }));
    h.model->handleTerminationRequest();
    ASSERT_TRUE(h.main.waitFor([&] { return gate.waiting() == 1; }));
    EXPECT_EQ(h.state().quitProgress, (QuitProgress{1, 0, false, 0, false}));
    h.main.advance(CameraModel::kRecordingFinishLimit);
    h.main.runUntilIdle();
    EXPECT_EQ(log.count("The recording was not finished within 30 s; " + movie.string() +
                        " is completed as the program ends, keeping what reached the disk"),
              1)
        << testing::PrintToString(log.lines());
    EXPECT_FALSE(log.contains("quitting without it"));
    EXPECT_TRUE(h.model->leftToRebuild().empty()) << "no take";
}

TEST(ShutdownTakesTest, WhatIsSaidOfATakeLeftUnfinished) {
    using S = TakeMovieState;
    const ScreenTake take{"/home/me/Videos/Lumenhollow/Take"};
    const std::string rebuild =
        "; \"Rebuild Another Take…\" under \"Record Screen and Camera\" makes its combined video from that folder";
    const std::string completing = " is completed as the program ends, keeping what reached the disk";
    const struct {
        S screen;
        S camera;
        std::string tail;
    } cases[] = {
        {S::whole, S::completing, "its Screen.mov is whole, its Camera.mov" + completing + rebuild},
        {S::completing, S::whole, "its Screen.mov" + completing + ", its Camera.mov is whole" + rebuild},
        {S::completing, S::completing, "its Screen.mov" + completing + ", its Camera.mov" + completing + rebuild},
        {S::completing, S::none, "its Screen.mov" + completing + ", it has no Camera.mov; it has no combined video"},
        {S::failed, S::completing,
         "its Screen.mov could not be written, its Camera.mov" + completing + "; it has no combined video"},
        {S::whole, S::failed, "its Screen.mov is whole, its Camera.mov could not be written; it has no combined video"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(takeLeftUnfinished(take, c.screen, c.camera),
                  "the take in /home/me/Videos/Lumenhollow/Take was not finished: " + c.tail);
    }
}

}  // namespace
}  // namespace lumenhollow::test
