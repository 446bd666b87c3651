// Composing and rebuilding takes through the model: the progress it
// publishes (never back, never another composition's), the rebuild's
// arguments and fallbacks, its refusals, the folder chooser, and a failed
// rebuild keeping the previous combined movie.

#include <atomic>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "hollowkit/base/stop_flag.h"
#include "hollowkit/recording/zoom_planner.h"
#include "hollowkit/testing/test_support.h"
#include "take_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::ComposeError;
using Progress = std::vector<std::optional<float>>;

// A folder with both movie names (the fake composer reads nothing).
std::filesystem::path fakeTake(const std::filesystem::path& parent, const std::string& name) {
    const std::filesystem::path folder = parent / name;
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "Screen.mov") << "screen";
    std::ofstream(folder / "Camera.mov") << "camera";
    return folder;
}

std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(TakeComposeTest, ProgressRisesAndEndsWithNothingAndNoLateReportComesBack) {
    TakeHarness h;
    h.startTakes();
    const auto folder = fakeTake(h.dir.path(), "take");
    h.recorder->clear();
    h.model->rebuildScreenTake(folder);
    h.main.runUntilIdle();
    ASSERT_EQ(h.compositions->size(), 1u);
    auto first = h.compositions->jobs[0];
    for (const float value : {0.25F, 0.1F, 0.5F, 0.5F, 1.0F}) first->progress(value);
    h.compositions->succeed();
    first->progress(1.0F);  // after the result: dropped

    // A second composition: the first one's late reports do not leak into it.
    h.model->rebuildScreenTake(folder);
    h.main.runUntilIdle();
    ASSERT_EQ(h.compositions->size(), 2u);
    first->progress(0.9F);
    h.compositions->last().progress(0.3F);

    const Progress expected{0.0F, 0.25F, 0.5F, 0.5F, 1.0F, std::nullopt, 0.0F, 0.3F};
    EXPECT_EQ(h.recorder->values<Field::composeProgress>(), expected);
}

TEST(TakeComposeTest, ARebuildTakesTheCurrentChoicesAndFallsBackForMissingFiles) {
    struct Case {
        const char* name;
        bool cursorFile;
        std::optional<std::string> cameraJson;
        std::vector<hollowkit::FrameSizeChange> frames;
    };
    const std::vector<hollowkit::FrameSizeChange> turned{{0, 64, 36}, {1.5, 36, 64}};
    const std::vector<Case> cases{
        {"every file", true, hollowkit::FrameSizeChange::encodeAll(turned), turned},
        {"no Camera.json", true, std::nullopt, {}},
        {"an unreadable Camera.json", true, std::string("[{\"time\": \"soon\"}]"), {}},
        {"no Cursor.json", false, std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TakeHarness h;
        h.startTakes();
        h.fakes.pointer().set(160, 90);
        ASSERT_TRUE(h.recordTake(0.5));
        h.button(80, 45, true);
        h.main.advanceSeconds(0.2);
        h.button(80, 45, false);
        h.main.advanceSeconds(4.0);
        h.screenFrame();
        h.cameraFrame();
        h.model->setAutoZoom(false);
        h.model->toggleRecording();
        ASSERT_TRUE(h.waitForFinish());
        ASSERT_EQ(h.compositions->size(), 1u);
        EXPECT_TRUE(h.compositions->last().request.zoom.isFullFrame());
        h.compositions->succeed();
        const std::filesystem::path folder = *h.state().lastScreenTake;
        if (!c.cursorFile) std::filesystem::remove(folder / "Cursor.json");
        if (c.cameraJson) std::ofstream(folder / "Camera.json") << *c.cameraJson;

        const hollowkit::BubbleStyle cutout{hollowkit::BubbleCorner::topTrailing, hollowkit::BubbleSize::small,
                                            hollowkit::BubbleShape::cutout, hollowkit::BubbleBackground::blur};
        h.model->setBubbleStyle(cutout);
        h.model->setCodec(hollowkit::VideoCodec::hevc);
        h.model->setAutoZoom(true);
        h.model->setLastScreenTake(std::nullopt);
        h.model->rebuildScreenTake(folder);
        EXPECT_EQ(h.state().composeProgress, std::optional<float>(0.0F));
        EXPECT_EQ(h.activity.active(), 1);
        // The movie's length is read on a worker when a zoom is planned.
        ASSERT_TRUE(h.main.waitFor([&] { return h.compositions->size() == 2; }, std::chrono::seconds(30)));
        const auto& request = h.compositions->last().request;
        EXPECT_EQ(request.screen, folder / "Screen.mov");
        EXPECT_EQ(request.camera, folder / "Camera.mov");
        EXPECT_EQ(request.output, folder / "Combined.mov");
        EXPECT_EQ(request.style, cutout);
        EXPECT_EQ(request.codec, hollowkit::VideoCodec::hevc);
        EXPECT_EQ(request.zoom.isFullFrame(), !c.cursorFile) << "planned now from the stored pointer";
        EXPECT_EQ(request.cameraFrames, c.frames);
        EXPECT_EQ(h.state().lastScreenTake, folder);
        h.compositions->succeed();
        EXPECT_EQ(h.activity.active(), 0);
        EXPECT_EQ(h.state().notice, "Screen recording saved");
    }
}

// A length probe that waits until the test releases it (bounded: one run
// on the main executor fails the test instead of hanging it).
struct HeldLengthProbe {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> entered{false};
    std::mutex mutex;
    std::vector<std::filesystem::path> movies;
    std::thread::id thread;

    MovieLengthProbe probe(double seconds) {
        return [this, seconds](const std::filesystem::path& movie) {
            {
                std::lock_guard guard(mutex);
                movies.push_back(movie);
                thread = std::this_thread::get_id();
            }
            entered = true;
            released.wait_for(std::chrono::seconds(10));
            return seconds;
        };
    }
};

// The zoom is planned over the screen movie's length, read from the disk:
// on a worker, while the main executor goes on. A quit before the length
// comes composes nothing.
TEST(TakeComposeTest, TheRebuildReadsTheMoviesLengthOffTheMainExecutor) {
    hollowkit::CursorTimeline timeline;
    for (int i = 0; i <= 60; ++i) {
        const double time = i / 10.0;
        timeline.samples.push_back({time, 0.25, 0.25, time >= 1.0 && time <= 1.2, false});
    }
    for (const bool quit : {false, true}) {
        SCOPED_TRACE(quit ? "a quit meanwhile" : "composed");
        HeldLengthProbe held;
        TakeHarness h;
        h.movieLengths = held.probe(6.0);
        h.startTakes();
        const auto folder = fakeTake(h.dir.path(), "take");
        ASSERT_TRUE(timeline.write(folder / "Cursor.json"));
        h.model->rebuildScreenTake(folder);
        ASSERT_TRUE(h.main.waitFor([&] { return held.entered.load(); }));
        bool ranMeanwhile = false;
        h.main.post([&] { ranMeanwhile = true; });
        h.main.runUntilIdle();
        EXPECT_TRUE(ranMeanwhile);
        {
            std::lock_guard guard(held.mutex);
            EXPECT_NE(held.thread, std::this_thread::get_id()) << "read on the main executor's thread";
            // Read through the folder held from the rebuild's start.
            ASSERT_EQ(held.movies.size(), 1u);
            EXPECT_TRUE(std::filesystem::equivalent(held.movies[0], folder / "Screen.mov")) << held.movies[0];
        }
        EXPECT_EQ(h.compositions->size(), 0u);
        EXPECT_EQ(h.state().composeProgress, std::optional<float>(0.0F));
        if (quit) h.model->handleTerminationRequest();
        held.release.set_value();
        if (quit) {
            ASSERT_TRUE(h.main.waitFor([&] { return !h.state().composeProgress.has_value(); }));
            EXPECT_EQ(h.compositions->size(), 0u);
            EXPECT_EQ(h.activity.active(), 0);
            EXPECT_EQ(h.model->leftToRebuild(), std::vector<std::string>{takeLeftToRebuild(ScreenTake{folder})});
            continue;
        }
        ASSERT_TRUE(h.main.waitFor([&] { return h.compositions->size() == 1; }));
        const hollowkit::ZoomPath zoom = h.compositions->last().request.zoom;
        EXPECT_FALSE(zoom.isFullFrame());
        EXPECT_EQ(zoom, hollowkit::ZoomPlanner::plan(timeline, 6.0)) << "planned over the length read";
        h.compositions->succeed();
        EXPECT_EQ(h.activity.active(), 0);
    }
}

TEST(TakeComposeTest, ARebuildIsRefusedForAFolderWithoutTheMoviesOrWhileBusy) {
    TakeHarness h;
    h.startTakes();
    const auto take = fakeTake(h.dir.path(), "take");
    const auto empty = h.dir.path() / "empty";
    std::filesystem::create_directories(empty);
    const auto before = h.state().lastScreenTake;

    h.recorder->clear();
    h.model->rebuildScreenTake(empty);
    h.main.runUntilIdle();
    EXPECT_EQ(h.notices(), (std::vector<std::optional<std::string>>{
                               "That folder has no Screen.mov and Camera.mov to combine"}));
    EXPECT_FALSE(h.state().composeProgress);
    EXPECT_EQ(h.activity.begun(), 0);
    EXPECT_EQ(h.state().lastScreenTake, before);

    // Twice quickly: the second finds the first pending and does nothing.
    h.model->rebuildScreenTake(take);
    h.model->rebuildScreenTake(take);
    h.main.runUntilIdle();
    EXPECT_EQ(h.compositions->size(), 1u);
    EXPECT_EQ(h.activity.active(), 1);
}

TEST(TakeComposeTest, TheChooserAsksForAFolderAndRebuildsWhatIsChosen) {
    TakeHarness h;
    h.startTakes();
    const auto take = fakeTake(h.dir.path(), "older take");

    h.model->chooseTakeToRebuild();
    ASSERT_EQ(h.picker.folderRequests().size(), 1u);
    const FolderChoiceRequest expected{h.outputFolder, "Rebuild",
                                       "Choose a Lumenhollow Screen Recording folder to rebuild its combined video"};
    EXPECT_EQ(h.picker.folderRequests()[0], expected);
    EXPECT_TRUE(h.picker.cancel());
    h.main.runUntilIdle();
    EXPECT_EQ(h.compositions->size(), 0u);
    EXPECT_FALSE(h.state().composeProgress);

    h.model->chooseTakeToRebuild();
    EXPECT_TRUE(h.picker.chooseFolder(take));
    h.main.runUntilIdle();
    ASSERT_EQ(h.compositions->size(), 1u);
    EXPECT_EQ(h.compositions->last().request.output, take / "Combined.mov");
}

// "Rebuild Another Take…": the chosen folder is held from the choice, like a
// take's own folder, so a move right after the choice (before the movie's
// length is read) or once the composition is asked for still gives a whole
// Combined.mov in the moved folder, shown and remembered there. The real
// composer composes the request the model made.
TEST(TakeComposeTest, AChosenTakeMovedDuringItsRebuildIsComposedWhereItWent) {
    for (const bool whileComposed : {false, true}) {
        SCOPED_TRACE(whileComposed ? "moved once the composition was asked for" : "moved right after the choice");
        TakeHarness h;
        h.startTakes();
        ASSERT_TRUE(h.recordTake(1.0));
        h.model->toggleRecording();
        ASSERT_TRUE(h.waitForFinish());
        ASSERT_EQ(h.compositions->size(), 1u);
        h.compositions->succeed();
        const std::filesystem::path take = *h.state().lastScreenTake;
        const std::filesystem::path moved = h.dir.path() / "Moved";
        const auto move = [&] {
            std::filesystem::rename(take, moved);
            std::ofstream(take) << "a file";  // something else takes its path
        };

        h.model->setAutoZoom(true);  // the length is read, through the held folder
        h.model->chooseTakeToRebuild();
        ASSERT_TRUE(h.picker.chooseFolder(take));
        if (!whileComposed) move();
        ASSERT_TRUE(h.main.waitFor([&] { return h.compositions->size() == 2; }, std::chrono::seconds(30)));
        if (whileComposed) move();
        TakeCompositions::Job& job = h.compositions->last();
        hollowkit::ScreenComposer composer(h.main);
        composer.compose(job.request, job.progress, std::exchange(job.completion, nullptr));
        ASSERT_TRUE(h.main.waitFor([&] { return !h.state().composeProgress; }, std::chrono::seconds(60)));

        EXPECT_EQ(h.state().notice, "Screen recording saved");
        const std::filesystem::path now = std::filesystem::canonical(moved);
        EXPECT_NEAR(readMovieSeconds(now / "Combined.mov"), 1.1, 0.15) << "no whole movie in the moved folder";
        EXPECT_EQ(h.desktop.calls().back(), "reveal " + (now / "Combined.mov").string());
        EXPECT_EQ(h.state().lastScreenTake, now);
        EXPECT_EQ(readAll(take), "a file");
    }
}

TEST(TakeComposeTest, ARebuildThatFailsKeepsThePreviousCombinedMovie) {
    TakeHarness h;
    h.takeComposers = {};  // the library's composer
    h.startTakes();
    const auto take = fakeTake(h.dir.path(), "take");
    std::ofstream(take / "Combined.mov") << "the earlier combined movie";
    h.model->rebuildScreenTake(take);
    ASSERT_TRUE(h.main.waitFor([&] { return !h.state().composeProgress; }, std::chrono::seconds(30)));
    ASSERT_TRUE(h.state().notice);
    EXPECT_EQ(h.state().notice->rfind("Screen and camera files saved. ", 0), 0u) << *h.state().notice;
    EXPECT_EQ(readAll(take / "Combined.mov"), "the earlier combined movie");
    EXPECT_EQ(h.desktop.calls().back(), "reveal " + (take / "Screen.mov").string());
    EXPECT_EQ(h.activity.active(), 0);
}

// The library's composer on a thread of its own, calling `atReport` with
// each progress report on that thread before the model hears of it: a test
// acts at a chosen point of a real composition.
class HookedComposer final : public TakeComposer {
public:
    HookedComposer(hollowkit::Executor& main, std::function<void(float)> atReport)
        : main_(main), atReport_(std::move(atReport)) {}
    ~HookedComposer() override {
        stop_.set();
        if (thread_.joinable()) thread_.join();
    }

    void compose(hollowkit::ComposeRequest request, hollowkit::ScreenComposer::Progress progress,
                 hollowkit::ScreenComposer::Completion completion) override {
        thread_ = std::thread([this, request = std::move(request), progress = std::move(progress),
                               completion = std::move(completion)] {
            auto result = hollowkit::ScreenComposer::composeNow(
                request,
                [&](float value) {
                    if (atReport_) atReport_(value);
                    main_.post([progress, value] { progress(value); });
                },
                {}, &stop_);
            if (stop_.isSet() && !result) return;
            main_.post([completion, result = std::move(result)] { completion(result); });
        });
    }

private:
    hollowkit::Executor& main_;
    const std::function<void(float)> atReport_;
    hollowkit::StopFlag stop_;
    std::thread thread_;
};

// A take whose folder is removed while it is composed (deleted, or moved to
// another disk, which copies and deletes it), at its stop or in a rebuild:
// the composition stops at its next frame, and the notice says the folder
// went, not that the take's files were saved; nothing is revealed.
TEST(TakeComposeTest, ATakeWhoseFolderIsRemovedWhileComposedStopsAndSaysItsFolderWent) {
    const struct {
        const char* name;
        bool rebuild;  // else the take's own composition, at its stop
        bool copiedAway;
    } cases[] = {
        {"deleted during the take's composition", false, false},
        {"deleted during a rebuild", true, false},
        {"moved to another disk during a rebuild", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TakeHarness h;
        std::atomic<bool> removeAtFirstFrame{!c.rebuild};
        std::filesystem::path take;
        const std::filesystem::path copy = h.dir.path() / "On another disk";
        std::vector<float> reports;  // the composer's, on its thread
        std::mutex reportsMutex;
        h.takeComposers = [&] {
            return std::make_unique<HookedComposer>(h.main, [&](float value) {
                std::lock_guard lock(reportsMutex);
                reports.push_back(value);
                if (value == 0 || !removeAtFirstFrame.exchange(false)) return;
                if (c.copiedAway) std::filesystem::copy(take, copy, std::filesystem::copy_options::recursive);
                std::filesystem::remove_all(take);
            });
        };
        h.startTakes();
        ASSERT_TRUE(h.recordTake(1.0));
        ASSERT_EQ(h.takeFolders().size(), 1u);
        take = h.takeFolders()[0];
        size_t reveals = h.desktop.calls().size();
        h.model->toggleRecording();
        ASSERT_TRUE(h.main.waitFor([&] { return h.state().composeProgress.has_value(); }, std::chrono::seconds(10)));
        ASSERT_TRUE(h.main.waitFor([&] { return !h.state().composeProgress; }, std::chrono::seconds(60)));
        if (c.rebuild) {
            ASSERT_EQ(h.state().notice, "Screen recording saved");
            removeAtFirstFrame = true;
            {
                std::lock_guard lock(reportsMutex);
                reports.clear();
            }
            reveals = h.desktop.calls().size();
            h.model->rebuildScreenTake(take);
            ASSERT_TRUE(h.main.waitFor([&] { return !h.state().composeProgress; }, std::chrono::seconds(60)));
        }
        h.main.runUntilIdle();

        EXPECT_EQ(h.state().notice,
                  "The take's folder was removed or moved to another disk, so its combined video was not made.");
        EXPECT_EQ(h.desktop.calls().size(), reveals) << "nothing is there to show";
        {
            std::lock_guard lock(reportsMutex);
            EXPECT_EQ(reports.size(), 2u) << "composed on after the folder went: " << testing::PrintToString(reports);
        }
        EXPECT_FALSE(std::filesystem::exists(take));
        EXPECT_EQ(h.activity.active(), 0);
    }
}

// A quit while a take's combined movie is composed waits for it up to the
// quit's bound for a recording, then stops it: the log names the take, says
// its movies are whole and which command makes the combined movie, rather
// than speaking of a recording; nothing is put under Combined.mov, and the
// model keeps the sentence for the ending's own account.
TEST(TakeComposeTest, AQuitThatOutlastsTheCompositionLeavesTheTakeToARebuildAndSaysWhich) {
    const struct {
        const char* name;
        bool earlierCombined;
    } cases[] = {
        {"a take's first composition", false},
        {"a rebuild over an earlier combined movie", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hollowkit::testsupport::LogCapture log;
        TakeHarness h;
        h.startTakes();
        const auto folder = fakeTake(h.dir.path(), "Lumenhollow Screen Recording 1");
        if (c.earlierCombined) std::ofstream(folder / "Combined.mov") << "the earlier combined movie";
        h.model->rebuildScreenTake(folder);
        h.main.runUntilIdle();
        ASSERT_EQ(h.compositions->size(), 1u);
        h.compositions->last().progress(0.4F);

        h.recorder->clear();
        h.model->handleTerminationRequest();
        h.main.advance(CameraModel::kRecordingFinishLimit - std::chrono::seconds(1));
        EXPECT_FALSE(h.compositions->last().composerDestroyed) << "waited for within the bound";
        EXPECT_TRUE(h.model->leftToRebuild().empty());
        h.main.advance(std::chrono::seconds(1));
        h.main.runUntilIdle();
        const auto calls = h.shell.calls();
        EXPECT_NE(std::find(calls.begin(), calls.end(), "reply"), calls.end());
        EXPECT_TRUE(h.compositions->last().composerDestroyed) << "stopped at the bound";
        EXPECT_FALSE(h.state().composeProgress);
        EXPECT_EQ(h.activity.active(), 0);

        const std::string said =
            "the combined video of the take in " + folder.string() + " was not made" +
            (c.earlierCombined ? " anew (its Combined.mov is an earlier one)" : "") +
            "; its Screen.mov and Camera.mov are whole, and \"Rebuild Another Take…\" under \"Record Screen and "
            "Camera\" makes it from that folder";
        EXPECT_EQ(h.model->leftToRebuild(), std::vector<std::string>{said});
        EXPECT_EQ(log.count("Quitting: " + said), 1) << testing::PrintToString(log.lines());
        EXPECT_FALSE(log.contains("The recording was not finished")) << "the recording was: only the movie is not";
        EXPECT_EQ(std::filesystem::exists(folder / "Combined.mov"), c.earlierCombined);
        if (c.earlierCombined) {
            EXPECT_EQ(readAll(folder / "Combined.mov"), "the earlier combined movie");
        }
        // The composer's late word changes nothing.
        h.compositions->finish(hollowkit::unexpected(ComposeError::exportFailed("the composition was stopped")));
        h.main.runUntilIdle();
        EXPECT_EQ(h.notices(), (std::vector<std::optional<std::string>>{}));
    }
}

// A take stopped by the quit itself is never composed: the same account.
TEST(TakeComposeTest, ATakeTheQuitStopsIsLeftToARebuildAndSaysWhich) {
    hollowkit::testsupport::LogCapture log;
    TakeHarness h;
    h.startTakes();
    ASSERT_TRUE(h.recordTake(0.5));
    h.model->handleTerminationRequest();
    ASSERT_TRUE(h.main.waitFor([&] { return !h.model->leftToRebuild().empty(); }, std::chrono::seconds(30)));
    ASSERT_TRUE(h.state().lastScreenTake);
    const std::string said = takeLeftToRebuild(ScreenTake{*h.state().lastScreenTake});
    EXPECT_NE(said.find(h.state().lastScreenTake->string()), std::string::npos) << said;
    EXPECT_EQ(h.model->leftToRebuild(), std::vector<std::string>{said});
    EXPECT_EQ(log.count("Quitting: " + said), 1) << testing::PrintToString(log.lines());
    EXPECT_EQ(h.compositions->size(), 0u);
}

TEST(TakeComposeTest, RecordScreenTooAndTheDisplayList) {
    using hollowkit::DisplayInfo;
    const DisplayInfo main{1, 0, 0, 320, 180, true, false};
    const DisplayInfo side{2, 320, 0, 640, 360, false, false};
    struct Case {
        const char* name;
        std::vector<DisplayInfo> displays;
        std::optional<std::string> failure;
        std::optional<uint32_t> chosen;
        std::vector<uint32_t> listed;  // ids published; empty: nothing published
        std::optional<uint32_t> chosenAfter;
    };
    const std::vector<Case> cases{
        {"the chosen display is there", {main, side}, std::nullopt, 2, {1, 2}, 2},
        {"the chosen display went away", {main}, std::nullopt, 2, {1}, std::nullopt},
        {"the window system cannot be asked", {main}, std::string("no display"), 2, {}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TakeHarness h;
        h.start(true);
        h.fakes.displays().setDisplays(c.displays);
        h.fakes.displays().setFailure(c.failure);
        h.model->setScreenDisplayID(c.chosen);
        h.recorder->clear();
        h.model->toggleRecordScreen();
        h.main.runUntilIdle();
        EXPECT_TRUE(h.state().recordScreen);
        EXPECT_EQ(h.settings.get<bool>("recordScreen"), true);
        std::vector<uint32_t> ids;
        for (const auto& display : h.state().displays) ids.push_back(display.id);
        EXPECT_EQ(ids, c.listed);
        EXPECT_EQ(h.recorder->count(Field::displays), c.listed.empty() ? 0u : 1u);
        EXPECT_EQ(h.state().screenDisplayID, c.chosenAfter);
        h.model->toggleRecordScreen();
        EXPECT_FALSE(h.state().recordScreen);
    }
}

// A take's outcome (saved, or why there is no combined video) stays what the
// window says when nothing on the desktop can show its file: the folder's
// whereabouts come after it, never in its place.
TEST(TakeComposeTest, ATakesOutcomeStaysToldWithItsFolderWhenNothingCanShowIt) {
    struct Case {
        const char* name;
        bool cameraPicture;
        // Ends the composition; empty when none is made.
        std::function<void(TakeCompositions&)> end;
        std::string outcome;   // how the notice begins
        std::string revealed;  // the file shown
        std::string detail;    // also in the notice
    };
    const std::string replaceFailed = "could not replace Combined.mov (Is a directory)";
    const std::vector<Case> cases{
        {"composed", true, [](TakeCompositions& c) { c.succeed(); }, "Screen recording saved", "Combined.mov", ""},
        {"the composition failed", true,
         [&](TakeCompositions& c) { c.finish(hollowkit::unexpected(ComposeError::exportFailed(replaceFailed))); },
         "Screen and camera files saved. ", "Screen.mov", replaceFailed},
        {"the camera had no picture", false, nullptr,
         "Screen saved. The camera had no picture, so there is no combined video.", "Screen.mov", ""},
    };
    for (const Case& c : cases) {
        for (const bool fails : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (fails ? ", nothing shows it" : ", a file manager shows it"));
            TakeHarness h;
            h.desktop.setFails(fails);
            h.startTakes();
            if (c.cameraPicture) {
                ASSERT_TRUE(h.recordTake(1.0));
            } else {
                h.record();
                ASSERT_TRUE(h.waitForCapture());
                ASSERT_TRUE(h.firstScreenFrame());
                h.main.advanceSeconds(0.5);
                h.screenFrame();
            }
            h.model->toggleRecording();
            ASSERT_TRUE(h.waitForFinish());
            if (c.end) {
                ASSERT_EQ(h.compositions->size(), 1u);
                c.end(*h.compositions);
            }
            h.main.runUntilIdle();

            const auto folders = h.takeFolders();
            ASSERT_EQ(folders.size(), 1u);
            ASSERT_FALSE(h.desktop.calls().empty());
            EXPECT_EQ(h.desktop.calls().back(), "reveal " + (folders[0] / c.revealed).string());
            ASSERT_TRUE(h.state().notice.has_value());
            const std::string& notice = *h.state().notice;
            EXPECT_EQ(notice.rfind(c.outcome, 0), 0u) << notice;
            if (!c.detail.empty()) {
                EXPECT_NE(notice.find(c.detail), std::string::npos) << notice;
            }
            EXPECT_EQ(notice.find(folders[0].string()) != std::string::npos, fails) << notice;
        }
    }
}

TEST(TakeComposeTest, AnOutcomeIsFollowedByTheFolderAsASentenceOfItsOwn) {
    const std::filesystem::path folder = "/tmp/My Takes/take 1";
    const std::string where = "No file manager to open it: the folder is /tmp/My Takes/take 1";
    const std::vector<std::pair<std::string, std::string>> cases{
        {"Screen recording saved", "Screen recording saved. " + where},
        {"Screen saved. The camera had no picture, so there is no combined video.",
         "Screen saved. The camera had no picture, so there is no combined video. " + where},
        {"", where},
    };
    for (const auto& [outcome, expected] : cases) {
        EXPECT_EQ(outcomeFolderNotShownNotice(outcome, folder), expected) << outcome;
    }
}

}  // namespace
}  // namespace lumenhollow::test
