// Screen-and-camera takes through the model, on fake displays and a fake
// screen capture with real (small) movies: the start and its undoing, the
// first frame's hand-over to the camera's movie, the stop and every branch
// of the finish, Record's gates, and quitting during a take.

#include <algorithm>
#include <atomic>
#include <fstream>
#include <future>

#include <gtest/gtest.h>

#include "hollowkit/recording/movie_temporaries.h"
#include "take_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;
using hollowkit::ComposeError;

const std::string kNoCameraPicture = "Screen saved. The camera had no picture, so there is no combined video.";

TEST(ScreenTakeTest, TheFolderHoldsBothMoviesOnlyWhenBothFilesExist) {
    hollowkit::testsupport::TempDir dir;
    const struct {
        const char* name;
        std::vector<const char*> files;
        bool both;
    } cases[] = {
        {"empty", {}, false},
        {"screen only", {"Screen.mov"}, false},
        {"camera only", {"Camera.mov"}, false},
        {"both", {"Screen.mov", "Camera.mov"}, true},
        {"both, other names differ in case", {"screen.mov", "camera.mov"}, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path folder = dir.path() / std::to_string(n++);
        std::filesystem::create_directories(folder);
        for (const char* file : c.files) std::ofstream(folder / file) << "x";
        EXPECT_EQ(ScreenTake{folder}.hasScreenAndCamera(), c.both);
    }
}

TEST(ScreenTakeTest, RecordMakesAFolderStartsTheScreenAndTheCameraOnlyAtTheFirstFrame) {
    TakeHarness h;
    h.startTakes();
    h.record();
    ASSERT_TRUE(h.waitForCapture());
    EXPECT_TRUE(h.state().isStartingScreen);
    EXPECT_FALSE(h.state().recordingStarted);
    EXPECT_EQ(h.model->tap().recorder(), nullptr);
    EXPECT_TRUE(h.model->isBusy());
    EXPECT_EQ(h.activity.active(), 1);
    const auto folders = h.takeFolders();
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].filename().string().rfind("Lumenhollow Screen Recording ", 0), 0u) << folders[0];
    EXPECT_TRUE(h.fakes.pointer().queryCount() > 0) << "the pointer is sampled from the start";

    ASSERT_TRUE(h.firstScreenFrame());
    EXPECT_FALSE(h.state().isStartingScreen);
    EXPECT_NE(h.model->tap().recorder(), nullptr);
}

TEST(ScreenTakeTest, AFinishedTakeIsComposedWithTheSettingsOfTheFinish) {
    TakeHarness h;
    h.startTakes();
    ASSERT_TRUE(h.recordTake(1.0));
    h.model->toggleRecording();
    EXPECT_EQ(h.state().composeProgress, std::optional<float>(0.0F));
    EXPECT_FALSE(h.state().recordingStarted);
    EXPECT_FALSE(h.model->hasScreenTake());
    // Changed between the stop and the finish: the finish reads them.
    const hollowkit::BubbleStyle style{hollowkit::BubbleCorner::topLeading, hollowkit::BubbleSize::large,
                                       hollowkit::BubbleShape::circle, hollowkit::BubbleBackground::keep};
    h.model->setBubbleStyle(style);
    h.model->setCodec(hollowkit::VideoCodec::hevc);
    ASSERT_TRUE(h.waitForFinish());
    ASSERT_EQ(h.compositions->size(), 1u);

    const auto& request = h.compositions->last().request;
    const std::filesystem::path folder = request.output.parent_path();
    EXPECT_EQ(request.screen, folder / "Screen.mov");
    EXPECT_EQ(request.camera, folder / "Camera.mov");
    EXPECT_EQ(request.output, folder / "Combined.mov");
    EXPECT_EQ(request.style, style);
    EXPECT_EQ(request.codec, hollowkit::VideoCodec::hevc);
    EXPECT_TRUE(request.cameraFrames.empty());
    EXPECT_FALSE(std::filesystem::exists(folder / "Camera.json"));
    EXPECT_TRUE(std::filesystem::exists(folder / "Screen.mov"));
    EXPECT_TRUE(std::filesystem::exists(folder / "Camera.mov"));
    EXPECT_EQ(h.state().lastScreenTake, folder);
    EXPECT_EQ(h.settings.get<Url>("lastScreenTake"), Url::fromPath(folder));

    auto cursor = hollowkit::CursorTimeline::load(folder / "Cursor.json");
    ASSERT_TRUE(cursor) << cursor.error();
    ASSERT_FALSE(cursor->samples.empty());
    // Counted from the first screen frame: the samples before it are negative.
    EXPECT_LE(cursor->samples.front().time, 0.0);
    EXPECT_NEAR(cursor->samples.back().time, 1.0, 0.05);

    EXPECT_EQ(h.activity.active(), 1) << "held until the composition ends";
    h.compositions->succeed();
    EXPECT_EQ(h.state().notice, "Screen recording saved");
    EXPECT_FALSE(h.state().composeProgress);
    EXPECT_EQ(h.activity.active(), 0);
    EXPECT_EQ(h.desktop.calls().back(), "reveal " + (folder / "Combined.mov").string());
}

// A take's folder moved while it records (renamed, or moved aside with a
// file put at its path): every file of the take is written whole into the
// folder it began in, and the composition is asked to work there.
TEST(ScreenTakeTest, ATakeWhoseFolderIsMovedKeepsEveryFileInIt) {
    for (const bool fileInItsPlace : {false, true}) {
        SCOPED_TRACE(fileInItsPlace ? "moved aside, a file in its place" : "renamed");
        TakeHarness h;
        h.startTakes();
        ASSERT_TRUE(h.recordTake(0.5));
        const auto folders = h.takeFolders();
        ASSERT_EQ(folders.size(), 1u);
        const std::filesystem::path moved = h.outputFolder / "Moved";
        std::filesystem::rename(folders[0], moved);
        if (fileInItsPlace) std::ofstream(folders[0]) << "a file";
        for (int i = 0; i < 10; ++i) h.tenthOfASecond();
        h.model->toggleRecording();
        ASSERT_TRUE(h.waitForFinish());
        ASSERT_EQ(h.compositions->size(), 1u) << h.state().notice.value_or("");

        const auto& request = h.compositions->last().request;
        EXPECT_TRUE(request.folder.isAt(moved));
        EXPECT_EQ(request.output, folders[0] / "Combined.mov") << "named where the take began";
        std::error_code error;
        EXPECT_GT(std::filesystem::file_size(moved / "Screen.mov", error), 0u);
        EXPECT_GT(std::filesystem::file_size(moved / "Camera.mov", error), 0u);
        auto cursor = hollowkit::CursorTimeline::load(moved / "Cursor.json");
        ASSERT_TRUE(cursor) << cursor.error();
        EXPECT_NEAR(cursor->samples.back().time, 1.5, 0.05);
        for (const auto& entry : std::filesystem::directory_iterator(moved)) {
            EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << "left hidden: " << entry.path();
        }
        if (fileInItsPlace) {
            std::ifstream in(folders[0]);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "a file");
        }
        h.compositions->succeed();
        EXPECT_EQ(h.state().notice, "Screen recording saved");
    }
}

// A take's folder moved at a fixed point of the take: while it records,
// while it is composed, or (the camera giving no picture) before the stop.
// What the model remembers and what it shows in the file manager is where
// the folder is now, and that file is there.
TEST(ScreenTakeTest, ATakeMovedIsRevealedAndRememberedWhereItIsNow) {
    enum class When : uint8_t { recording, composing, noCameraPicture };
    struct Case {
        const char* name;
        When when;
        bool composed;             // the composition succeeds; else it fails
        const char* revealed;      // the file shown in the moved folder
        bool remembered;           // lastScreenTake is set
    };
    const Case cases[] = {
        {"moved while recording, composed", When::recording, true, "Combined.mov", true},
        {"moved while composed, composed", When::composing, true, "Combined.mov", true},
        {"moved while composed, the composition failed", When::composing, false, "Screen.mov", true},
        {"moved while recording, the camera gave no picture", When::noCameraPicture, false, "Screen.mov", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TakeHarness h;
        h.startTakes();
        const std::filesystem::path moved = h.outputFolder / "Moved";
        const auto move = [&] {
            const auto folders = h.takeFolders();
            ASSERT_EQ(folders.size(), 1u);
            std::filesystem::rename(folders[0], moved);
            std::ofstream(folders[0]) << "a file";  // something else takes its path
        };
        if (c.when == When::noCameraPicture) {
            h.record();
            ASSERT_TRUE(h.waitForCapture());
            ASSERT_TRUE(h.firstScreenFrame());
            move();
            h.main.advanceSeconds(0.5);
            h.screenFrame();
        } else {
            ASSERT_TRUE(h.recordTake(0.5));
            if (c.when == When::recording) move();
            h.tenthOfASecond();
        }
        h.model->toggleRecording();
        ASSERT_TRUE(h.waitForFinish());
        if (c.when == When::noCameraPicture) {
            EXPECT_EQ(h.state().notice, kNoCameraPicture);
        } else {
            ASSERT_EQ(h.compositions->size(), 1u) << h.state().notice.value_or("");
            if (c.when == When::composing) move();
            if (c.composed) {
                h.compositions->succeed();
            } else {
                h.compositions->finish(hollowkit::unexpected(ComposeError::exportFailed("no room")));
            }
        }
        const std::filesystem::path now = std::filesystem::canonical(moved);
        ASSERT_FALSE(h.desktop.calls().empty());
        EXPECT_EQ(h.desktop.calls().back(), "reveal " + (now / c.revealed).string());
        if (!c.composed) {
            EXPECT_TRUE(std::filesystem::is_regular_file(now / c.revealed));
        }
        if (c.remembered) {
            EXPECT_EQ(h.state().lastScreenTake, now);
            EXPECT_EQ(h.settings.get<Url>("lastScreenTake"), Url::fromPath(now));
        } else {
            EXPECT_FALSE(h.state().lastScreenTake);
        }
    }
}

TEST(ScreenTakeTest, TheZoomIsPlannedOnlyWhenAutomaticZoomIsOnAtTheStop) {
    for (const bool autoZoom : {true, false}) {
        SCOPED_TRACE(autoZoom);
        TakeHarness h;
        h.startTakes();
        h.model->setAutoZoom(autoZoom);
        h.fakes.pointer().set(160, 90);
        ASSERT_TRUE(h.recordTake(0.5));
        h.button(160, 90, true);
        h.main.advanceSeconds(0.2);
        h.button(160, 90, false);
        h.main.advanceSeconds(4.0);
        h.screenFrame();
        h.model->toggleRecording();
        h.model->setAutoZoom(!autoZoom);  // after the stop: no effect
        ASSERT_TRUE(h.waitForFinish());
        ASSERT_EQ(h.compositions->size(), 1u);
        EXPECT_EQ(h.compositions->last().request.zoom.isFullFrame(), !autoZoom);
    }
}

TEST(ScreenTakeTest, TheFinishTellsWhyThereIsNoCombinedMovie) {
    struct Case {
        const char* name;
        std::function<void(TakeHarness&)> take;  // from Record until just before the stop
        std::optional<std::string> notice;
        bool revealsScreen;
    };
    const std::vector<Case> cases{
        {"stopped before the first screen frame", [](TakeHarness& h) { ASSERT_TRUE(h.waitForCapture()); },
         "No screen frames were recorded", false},
        {"the camera gave no picture",
         [](TakeHarness& h) {
             ASSERT_TRUE(h.waitForCapture());
             ASSERT_TRUE(h.firstScreenFrame());
             h.main.advanceSeconds(0.5);
             h.screenFrame();
         },
         kNoCameraPicture, true},
        // The frame is written, but the model has not heard of it yet: no
        // camera movie was ever begun, and the slot stays empty.
        {"stopped before the first frame was handed over",
         [](TakeHarness& h) {
             ASSERT_TRUE(h.waitForCapture());
             h.screenFrame();
             h.main.manualClock().advanceSeconds(0.1);
         },
         kNoCameraPicture, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TakeHarness h;
        h.startTakes();
        h.record();
        c.take(h);
        h.model->toggleRecording();
        ASSERT_TRUE(h.waitForFinish());
        EXPECT_EQ(h.compositions->size(), 0u);
        EXPECT_EQ(h.state().notice, c.notice);
        EXPECT_FALSE(h.state().composeProgress);
        EXPECT_EQ(h.activity.active(), 0);
        EXPECT_FALSE(h.state().lastScreenTake);
        const auto folders = h.takeFolders();
        ASSERT_EQ(folders.size(), 1u);
        EXPECT_TRUE(std::filesystem::exists(folders[0] / "Cursor.json"));
        const bool revealed = !h.desktop.calls().empty() &&
                              h.desktop.calls().back() == "reveal " + (folders[0] / "Screen.mov").string();
        EXPECT_EQ(revealed, c.revealsScreen);
    }
}

TEST(ScreenTakeTest, AStopBeforeTheFirstFrameStoresThePointerAtOrBeforeTheStart) {
    TakeHarness h;
    h.startTakes();
    h.record();
    ASSERT_TRUE(h.waitForCapture());
    h.main.advanceSeconds(0.5);
    h.model->toggleRecording();
    ASSERT_TRUE(h.waitForFinish());
    auto cursor = hollowkit::CursorTimeline::load(h.takeFolders().at(0) / "Cursor.json");
    ASSERT_TRUE(cursor) << cursor.error();
    ASSERT_GE(cursor->samples.size(), 10u);
    for (const auto& sample : cursor->samples) EXPECT_LE(sample.time, 1e-9);
}

TEST(ScreenTakeTest, ACameraThatTurnsToPortraitWritesItsFrameSizes) {
    TakeHarness h;
    h.startTakes();
    h.record();
    ASSERT_TRUE(h.waitForCapture());
    ASSERT_TRUE(h.firstScreenFrame());
    for (int i = 0; i < 10; ++i) {
        h.main.advanceSeconds(0.1);
        h.screenFrame();
        if (i < 5) {
            h.cameraFrame(64, 36);
        } else {
            h.cameraFrame(36, 64);
        }
    }
    h.model->toggleRecording();
    ASSERT_TRUE(h.waitForFinish());
    ASSERT_EQ(h.compositions->size(), 1u);
    const auto& request = h.compositions->last().request;
    ASSERT_EQ(request.cameraFrames.size(), 2u);
    EXPECT_TRUE(hollowkit::hasMixedOrientation(request.cameraFrames));
    EXPECT_EQ(hollowkit::FrameSizeChange::loadAll(request.output.parent_path() / "Camera.json"),
              request.cameraFrames);
}

TEST(ScreenTakeTest, AStartThatFailsUndoesEverythingAndRemovesTheFolder) {
    struct Case {
        const char* name;
        std::function<void(hollowkit::FakeRecordingSystem&)> fail;
        std::optional<std::string> notice;
        bool permissionHelp;
        bool reachesCapture;  // the screen movie's name is reserved when it fails
    };
    const std::vector<Case> cases{
        {"the screen may not be captured",
         [](hollowkit::FakeRecordingSystem& f) { f.displays().setFailure("cannot open display"); }, std::nullopt,
         true, false},
        {"the capture does not start",
         [](hollowkit::FakeRecordingSystem& f) { f.screenCapture().setStartFailure("XShmAttach failed"); },
         hollowkit::ScreenRecorder::ScreenError::captureFailed("XShmAttach failed").userMessage(), false, true},
        {"no display at all", [](hollowkit::FakeRecordingSystem& f) { f.displays().setDisplays({}); },
         hollowkit::ScreenRecorder::ScreenError::displayNotFound().userMessage(), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TakeHarness h;
        h.startTakes();
        c.fail(h.fakes);
        // The clearing of a killed run's leftovers, which the model starts
        // with and which a busy machine may run only now, in the middle of
        // the capture's start: it takes nothing of the take's.
        std::optional<bool> screenKept;
        h.fakes.screenCapture().setDuringStart([&] {
            (void)hollowkit::MovieTemporaries::removeLeftovers(h.outputFolder);
            const auto folders = h.takeFolders();
            screenKept = folders.size() == 1 && std::filesystem::exists(folders[0] / "Screen.mov");
        });
        // Whoever hears that the start is over finds the folder gone.
        std::optional<size_t> foldersWhenOver;
        h.model->addObserver([&](Field field) {
            if (field == Field::isStartingScreen && !h.state().isStartingScreen) {
                foldersWhenOver = h.takeFolders().size();
            }
        });
        h.record();
        ASSERT_TRUE(h.main.waitFor([&] { return !h.state().isStartingScreen; }, std::chrono::seconds(10)));
        EXPECT_EQ(h.state().notice, c.notice);
        EXPECT_EQ(h.state().showScreenPermissionHelp, c.permissionHelp);
        EXPECT_EQ(foldersWhenOver, std::optional<size_t>(0));
        EXPECT_EQ(screenKept, c.reachesCapture ? std::optional<bool>(true) : std::nullopt);
        EXPECT_TRUE(h.takeFolders().empty());
        EXPECT_FALSE(h.model->hasScreenTake());
        EXPECT_FALSE(h.model->isBusy());
        EXPECT_EQ(h.activity.active(), 0);
        EXPECT_EQ(h.activity.reasons(), std::vector<std::string>{"Recording video"});
        const int queries = h.fakes.pointer().queryCount();
        h.main.advanceSeconds(1);
        EXPECT_EQ(h.fakes.pointer().queryCount(), queries) << "the pointer is no longer sampled";
    }
}

TEST(ScreenTakeTest, AnOutputFolderThatCannotBeMadeStartsNothing) {
    TakeHarness h;
    h.outputFolder = "/proc/forbidden/Lumenhollow";
    h.startTakes();
    h.record();
    ASSERT_TRUE(h.state().notice);
    EXPECT_EQ(h.state().notice->rfind("Could not create the output folder: ", 0), 0u) << *h.state().notice;
    EXPECT_FALSE(h.state().isStartingScreen);
    EXPECT_EQ(h.activity.active(), 0);
    EXPECT_EQ(h.fakes.screenCapture().startCount(), 0);
}

TEST(ScreenTakeTest, AStreamThatStopsBySystemStopsTheTakeWithItsReason) {
    TakeHarness h;
    h.startTakes();
    h.record();
    ASSERT_TRUE(h.waitForCapture());
    ASSERT_TRUE(h.firstScreenFrame());
    h.recorder->clear();
    h.fakes.screenCapture().stopBySystem("The display went away");
    ASSERT_TRUE(h.waitForFinish());
    const auto notices = h.notices();
    ASSERT_GE(notices.size(), 1u);
    EXPECT_EQ(notices[0], "Screen recording stopped: The display went away");
    // The camera had nothing: the finish's own notice follows.
    EXPECT_EQ(notices.back(), kNoCameraPicture);
    EXPECT_FALSE(h.model->hasScreenTake());
}

TEST(ScreenTakeTest, RecordDuringTheStartStopsTheTakeAndNoCaptureKeepsRunning) {
    // Stopped as the take starts (before its capture task), and while the capture starts.
    for (const bool whileStarting : {false, true}) {
        SCOPED_TRACE(whileStarting);
        TakeHarness h;
        h.startTakes();
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> inStart{false};
        h.fakes.screenCapture().setDuringStart([&inStart, released] {
            inStart = true;
            released.wait();
        });
        bool stopped = false;
        if (!whileStarting) {
            h.model->addObserver([&](Field field) {
                if (field != Field::isStartingScreen || !h.state().isStartingScreen || stopped) return;
                stopped = true;
                h.model->toggleRecording();
            });
        }
        h.record();
        if (whileStarting) {
            ASSERT_TRUE(h.main.waitFor([&] { return inStart.load(); }, std::chrono::seconds(10)));
            EXPECT_TRUE(h.state().isStartingScreen);
            h.model->toggleRecording();
        }
        EXPECT_FALSE(h.state().isStartingScreen);
        EXPECT_FALSE(h.model->hasScreenTake());
        release.set_value();
        ASSERT_TRUE(h.waitForFinish());
        // Whatever the start still posts finds the take gone.
        h.main.waitFor([] { return false; }, std::chrono::milliseconds(200));
        EXPECT_FALSE(h.fakes.screenCapture().running());
        EXPECT_EQ(h.fakes.screenCapture().startCount(), whileStarting ? 1 : 0);
        EXPECT_EQ(h.state().notice, "No screen frames were recorded");
        EXPECT_FALSE(h.state().isStartingScreen);
        EXPECT_EQ(h.activity.active(), 0);
    }
}

TEST(ScreenTakeTest, OverWiFiTheCaptureWaitsForTheMicrophoneAndAStopMeanwhileEndsBoth) {
    for (const bool stopWhileOpening : {false, true}) {
        SCOPED_TRACE(stopWhileOpening ? "stopped while the microphone opens" : "the microphone opens");
        TakeHarness h;
        h.microphones.holdOpens();
        h.startTakes(false);
        h.record();
        ASSERT_TRUE(h.microphones.waitForHeldOpen());
        h.main.waitFor([] { return false; }, std::chrono::milliseconds(100));
        EXPECT_EQ(h.fakes.screenCapture().startCount(), 0) << "not before the microphone";
        if (stopWhileOpening) h.model->toggleRecording();
        h.microphones.releaseOpens();
        if (stopWhileOpening) {
            ASSERT_TRUE(h.waitForFinish());
            h.main.waitFor([&] { return h.microphones.openCaptureCount() == 0; });
            h.main.waitFor([] { return false; }, std::chrono::milliseconds(200));
            EXPECT_EQ(h.microphones.openCaptureCount(), 0);
            EXPECT_FALSE(h.model->isMacMicrophoneRunning());
            EXPECT_EQ(h.fakes.screenCapture().startCount(), 0);
        } else {
            ASSERT_TRUE(h.waitForCapture());
            EXPECT_TRUE(h.model->isMacMicrophoneRunning());
            h.model->toggleRecording();
            ASSERT_TRUE(h.waitForFinish());
            EXPECT_FALSE(h.model->isMacMicrophoneRunning());
        }
        EXPECT_FALSE(h.fakes.screenCapture().running());
    }
}

TEST(ScreenTakeTest, RecordIsIgnoredWhileATakeIsComposed) {
    TakeHarness h;
    h.startTakes();
    ASSERT_TRUE(h.recordTake(0.5));
    h.model->toggleRecording();
    ASSERT_TRUE(h.waitForFinish());
    ASSERT_TRUE(h.state().composeProgress);
    h.model->toggleRecording();
    h.main.advanceSeconds(5);
    EXPECT_FALSE(h.state().countdownRemaining);
    EXPECT_FALSE(h.model->hasScreenTake());
    EXPECT_EQ(h.takeFolders().size(), 1u);
    h.model->toggleRecordScreen();
    EXPECT_TRUE(h.state().recordScreen);
}

TEST(ScreenTakeTest, CardReportsDuringATakeLeaveTheTakeAlone) {
    TakeHarness h;
    h.startTakes();
    h.record();
    ASSERT_TRUE(h.waitForCapture());
    ASSERT_TRUE(h.firstScreenFrame());
    const auto started = h.state().recordingStarted;
    h.recorder->clear();
    h.emit(CameraEvent::cardRecording({false, false, std::nullopt}));
    h.emit(CameraEvent::cardRecording({true, false, 100}));
    EXPECT_EQ(h.state().recordingStarted, started);
    EXPECT_TRUE(h.notices().empty());
    EXPECT_TRUE(h.model->hasScreenTake());
}

TEST(ScreenTakeTest, StopRecordingRunsItsCompletionOnceWhenTheTakesWorkIsOver) {
    TakeHarness h;
    h.startTakes();
    ASSERT_TRUE(h.recordTake(0.5));
    int completions = 0;
    h.model->stopRecording([&] { ++completions; });
    ASSERT_TRUE(h.waitForFinish());
    EXPECT_EQ(completions, 0) << "not before the composition ends";
    h.compositions->finish(hollowkit::unexpected(ComposeError::exportFailed("disk full")));
    h.main.runUntilIdle();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(h.state().notice, "Screen and camera files saved. Could not build the combined video: disk full");
    const auto folder = h.compositions->last().request.output.parent_path();
    EXPECT_EQ(h.desktop.calls().back(), "reveal " + (folder / "Screen.mov").string());
    EXPECT_EQ(h.state().lastScreenTake, folder) << "set before the composition";
}

TEST(ScreenTakeTest, AStopCompletionRunsAlsoWhenTheModelIsGone) {
    TakeHarness h;
    h.startTakes();
    ASSERT_TRUE(h.recordTake(0.5));
    int completions = 0;
    h.model->stopRecording([&] { ++completions; });
    h.recorder.reset();
    h.model.reset();
    ASSERT_TRUE(h.main.waitFor([&] { return completions > 0; }, std::chrono::seconds(30)));
    h.main.runUntilIdle();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(h.compositions->size(), 0u);
    EXPECT_EQ(h.activity.active(), 0);
}

TEST(ScreenTakeTest, QuittingDuringATakeFinishesItsMoviesWithoutComposing) {
    TakeHarness h;
    h.startTakes();
    ASSERT_TRUE(h.recordTake(0.5));
    h.model->handleTerminationRequest();
    ASSERT_TRUE(h.main.waitFor([&] { return !h.shell.calls().empty() && h.shell.calls().back() == "reply"; },
                               std::chrono::seconds(30)));
    EXPECT_EQ(h.compositions->size(), 0u);
    ASSERT_TRUE(h.state().lastScreenTake);
    EXPECT_TRUE(ScreenTake{*h.state().lastScreenTake}.hasScreenAndCamera());
    EXPECT_EQ(h.activity.active(), 0);
}

TEST(ScreenTakeTest, QuittingDuringACompositionRepliesOnlyWhenItEndsAndRevealsNothing) {
    struct Case {
        const char* name;
        bool terminationRequest;  // else only the quit request (the termination is still to come)
        bool composed;
    };
    const std::vector<Case> cases{
        {"termination, composed", true, true},
        {"termination, composition failed", true, false},
        {"quit request, composed", false, true},
        {"quit request, composition failed", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TakeHarness h;
        h.startTakes();
        ASSERT_TRUE(h.recordTake(0.5));
        h.model->toggleRecording();
        ASSERT_TRUE(h.waitForFinish());
        ASSERT_EQ(h.compositions->size(), 1u);
        if (c.terminationRequest) {
            h.model->handleTerminationRequest();
        } else {
            h.model->afterClosingSheets();
        }
        h.main.advanceSeconds(5);
        const auto replied = [&] {
            const auto calls = h.shell.calls();
            return std::find(calls.begin(), calls.end(), "reply") != calls.end();
        };
        EXPECT_FALSE(replied());
        if (c.composed) {
            h.compositions->succeed();
        } else {
            h.compositions->finish(hollowkit::unexpected(ComposeError::exportFailed("disk full")));
        }
        h.main.advanceSeconds(1);
        EXPECT_EQ(replied(), c.terminationRequest);
        EXPECT_FALSE(h.compositions->last().completion);
        // A file manager opened now would pop up after the application has gone.
        EXPECT_EQ(h.desktop.calls(), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace lumenhollow::test
