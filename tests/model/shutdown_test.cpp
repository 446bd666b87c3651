#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/testing/test_support.h"
#include "lumenhollow/testing/state_recorder.h"
#include "model_harness.h"
#include "recording_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::toDuration;
using namespace std::chrono_literals;

// The harness with the application's side of quitting: a termination
// request is answered with the model's shutdown, as the app shell does.
struct QuitHarness : ModelHarness {
    explicit QuitHarness(FakeCamera::StopMode stopMode = FakeCamera::StopMode::immediate,
                         hollowkit::Duration stopDelay = 1s) {
        FakeCamera::Options options;
        options.stopMode = stopMode;
        options.stopDelay = stopDelay;
        cameras.setOptions(ConnectionMode::wireless, options);
        createAndStart();
        model->startTimers();
        main.runUntilIdle();
        shell.setOnTerminationRequest(main, [this] { model->handleTerminationRequest(); });
    }

    size_t replies() const { return shell.count("reply") + shell.count("reply relaunch"); }
    bool cameraStopAsked() const {
        for (const auto& command : camera()->commands()) {
            if (command == "stop") return true;
        }
        return false;
    }
};

TEST(ShutdownTest, TheQuitRequestClosesTheFiveSheetsInOrderThenAsksToTerminateOnALaterTurn) {
    const struct {
        const char* name;
        bool sheetOpen;
        double requestAfterSeconds;
    } cases[] = {
        {"no sheet: the next turn", false, 0.0},
        {"a sheet: after it has gone", true, 0.35},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        h.createAndStart();
        h.shell.setSheetOpen(c.sheetOpen);
        StateRecorder recorder(h.model);
        h.model->afterClosingSheets();
        EXPECT_EQ(recorder.fields(), (std::vector<Field>{Field::showUSBGuide, Field::showWelcome,
                                                         Field::showScreenPermissionHelp, Field::showShortcuts,
                                                         Field::showHomeNetworkSheet}));
        EXPECT_FALSE(h.state().showWelcome) << "open on a fresh start, closed now";
        EXPECT_EQ(h.shell.calls(), (std::vector<std::string>{"endSheets"})) << "nothing asked within the call";
        if (c.requestAfterSeconds > 0) {
            h.main.advanceSeconds(c.requestAfterSeconds - 0.001);
            EXPECT_EQ(h.shell.count("requestTermination"), 0u);
            h.main.advanceSeconds(0.001);
        } else {
            h.main.runUntilIdle();
        }
        EXPECT_EQ(h.shell.count("requestTermination"), 1u);
        h.main.advanceSeconds(60);
        EXPECT_EQ(h.shell.count("requestTermination"), 1u);
    }
}

TEST(ShutdownTest, RepliesOnceWhenTheFilesAreFinishedAndTheCameraStoppedOrItsBoundsHavePassed) {
    enum class Takes : uint8_t { nothing, delayed, never };
    const struct {
        const char* name;
        Takes finish;
        double finishEndsSeconds;  // by the bound when it never ends
        FakeCamera::StopMode stop;
        double stopSeconds;
        double replyAtSeconds;
        bool logsFinish;
        bool logsCamera;
    } cases[] = {
        {"nothing records, the camera stops at once", Takes::nothing, 0, FakeCamera::StopMode::immediate, 0, 0,
         false, false},
        {"the camera takes 2 s", Takes::nothing, 0, FakeCamera::StopMode::delayed, 2, 2, false, false},
        {"the camera never stops: the fallback", Takes::nothing, 0, FakeCamera::StopMode::never, 0, 3, false, true},
        {"a finish of 10 s is waited for", Takes::delayed, 10, FakeCamera::StopMode::immediate, 0, 10, false, false},
        {"then the camera gets its own 3 s", Takes::delayed, 10, FakeCamera::StopMode::never, 0, 13, false, true},
        {"a finish of 29 s still counts", Takes::delayed, 29, FakeCamera::StopMode::delayed, 1, 30, false, false},
        {"a finish that never ends is bounded", Takes::never, 30, FakeCamera::StopMode::immediate, 0, 30, true, false},
        {"and so is everything", Takes::never, 30, FakeCamera::StopMode::never, 0, 33, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hollowkit::testsupport::LogCapture log;
        QuitHarness h(c.stop, toDuration(c.stopSeconds));
        std::vector<std::string> order;
        if (c.finish != Takes::nothing) {
            h.model->setRecordingFinishForTermination([&](std::function<void()> finished) {
                order.push_back(h.cameraStopAsked() ? "finish after the camera stop" : "finish");
                if (c.finish == Takes::delayed) h.main.after(toDuration(c.finishEndsSeconds), std::move(finished));
            });
        }
        h.model->afterClosingSheets();
        h.main.runUntilIdle();
        ASSERT_TRUE(h.model->isTerminating());
        if (c.finish != Takes::nothing) {
            EXPECT_EQ(order, std::vector<std::string>{"finish"});
        }
        if (c.replyAtSeconds > 0) {
            h.main.advanceSeconds(c.replyAtSeconds - 0.001);
            EXPECT_EQ(h.replies(), 0u);
            EXPECT_EQ(h.cameraStopAsked(), c.replyAtSeconds - 0.001 > c.finishEndsSeconds)
                << "the camera stops only once the files are finished";
            h.main.advanceSeconds(0.001);
        }
        EXPECT_EQ(h.shell.count("reply"), 1u);
        h.main.advanceSeconds(120);
        h.camera()->finishStop();
        h.main.runUntilIdle();
        EXPECT_EQ(h.replies(), 1u) << "exactly once";
        EXPECT_EQ(log.count("was not finished within 30 s"), c.logsFinish ? 1 : 0);
        EXPECT_EQ(log.count("did not stop within 3 s"), c.logsCamera ? 1 : 0);
    }
}

TEST(ShutdownTest, TheTimersStopFirstAndNothingStartsACameraWhileQuitting) {
    QuitHarness h(FakeCamera::StopMode::delayed, 2s);
    h.camera()->emitNow(hollowkit::CameraEvent::cameraOff());
    h.emit(hollowkit::CameraEvent::failed("Camera off"));  // arms the wireless retry
    ASSERT_TRUE(h.state().cameraOff);
    h.model->connect(ConnectionMode::usb);                  // a switch under way
    StateRecorder recorder(h.model);
    h.model->handleTerminationRequest();
    h.main.advanceSeconds(60);
    EXPECT_EQ(recorder.count(Field::macFreeBytes), 0u) << "the disk timer ran on";
    EXPECT_EQ(recorder.count(Field::audioLevel), 0u) << "the level timer ran on";
    EXPECT_EQ(h.cameras.builds().size(), 1u) << "a camera was built while quitting";
    EXPECT_EQ(h.camera()->commands(), (std::vector<std::string>{"start", "stop", "stop"}));
    EXPECT_EQ(h.shell.calls(), (std::vector<std::string>{"reply"}));
}

// While quitting nothing new starts: Record and Take Photo pressed while
// the camera stops start no movie, countdown or photo, hold no activity, and
// leave nothing unanswered or open when the reply goes out.
TEST(ShutdownTest, RecordAndTakePhotoAreRefusedWhileQuitting) {
    const struct {
        const char* name;
        std::function<void(RecordingHarness&)> press;
    } cases[] = {
        {"Record", [](RecordingHarness& h) { h.model->toggleRecording(); }},
        {"Record with a countdown",
         [](RecordingHarness& h) {
             h.model->setCountdownSeconds(3);
             h.model->toggleRecording();
         }},
        {"Take Photo", [](RecordingHarness& h) { h.model->takePhoto(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHarness h;
        FakeCamera::Options options;
        options.stopMode = FakeCamera::StopMode::delayed;
        options.stopDelay = 2s;
        h.cameras.setOptions(ConnectionMode::usb, options);
        h.start(true);
        h.model->setRecordTarget(RecordTarget::mac);
        h.shell.setOnTerminationRequest(h.main, [&h] { h.model->handleTerminationRequest(); });
        h.model->afterClosingSheets();
        h.main.runUntilIdle();
        ASSERT_TRUE(h.model->isTerminating());
        ASSERT_EQ(h.shell.count("reply"), 0u) << "the camera is still stopping";

        c.press(h);
        // A frame that could have answered a photo or started a movie.
        h.camera()->deliverFrame(FakeCamera::makeFrame(64, 36, std::chrono::steady_clock::now()));
        h.main.advanceSeconds(30);
        EXPECT_EQ(h.shell.count("reply"), 1u);
        EXPECT_FALSE(h.model->isRecording());
        EXPECT_EQ(h.state().countdownRemaining, std::nullopt);
        EXPECT_EQ(h.model->tap().recorder(), nullptr);
        EXPECT_EQ(h.activity.begun(), 0);
        EXPECT_TRUE(h.notices().empty());
        EXPECT_TRUE(h.files(".mov").empty());
        EXPECT_TRUE(h.files(".heic").empty());
    }
}

TEST(ShutdownTest, QuitRequestsDuringTheShutdownAndRepeatedAnswersAreIgnored) {
    QuitHarness h(FakeCamera::StopMode::never);
    int finishes = 0;
    h.model->setRecordingFinishForTermination([&](std::function<void()> finished) {
        ++finishes;
        finished();
        finished();  // a finish reported twice
    });
    h.model->afterClosingSheets();
    h.model->afterClosingSheets();
    h.main.runUntilIdle();
    StateRecorder recorder(h.model);
    h.model->afterClosingSheets();
    h.model->quitAndReopen();
    h.model->handleTerminationRequest();  // the shell asking again
    h.main.advanceSeconds(60);
    // Only told, once, that the quit still waits.
    EXPECT_EQ(recorder.fields(), std::vector<Field>{Field::quitProgress});
    EXPECT_TRUE(h.state().quitProgress && h.state().quitProgress->askedAgain);
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(h.shell.calls(), (std::vector<std::string>{"endSheets", "requestTermination", "reply relaunch"}))
        << "a relaunch asked for before the reply still happens";
}

TEST(ShutdownTest, QuitAndReopenAsksForANewInstanceWithTheReply) {
    QuitHarness h;
    EXPECT_FALSE(h.model->relaunchOnQuit());
    h.model->quitAndReopen();
    EXPECT_TRUE(h.model->relaunchOnQuit());
    h.main.runUntilIdle();
    EXPECT_EQ(h.shell.calls(), (std::vector<std::string>{"endSheets", "requestTermination", "reply relaunch"}));
}

TEST(ShutdownTest, TheOutputFolderIsCreatedWhenMissingAndOpenedEvenWhenItCannotBe) {
    hollowkit::testsupport::TempDir temp;
    const struct {
        const char* name;
        std::filesystem::path folder;
        bool exists;
    } cases[] = {
        {"fresh installation", temp.path() / "Videos" / "Lumenhollow", true},
        {"under a file", temp.path() / "file" / "Lumenhollow", false},
    };
    std::ofstream(temp.file("file")) << "x";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        h.outputFolder = c.folder;
        h.createAndStart();
        StateRecorder recorder(h.model);
        h.model->openOutputFolder();
        EXPECT_EQ(std::filesystem::is_directory(c.folder), c.exists);
        EXPECT_EQ(h.desktop.calls(), std::vector<std::string>{"open " + c.folder.string()});
        EXPECT_TRUE(recorder.entries().empty());
    }
}

// With nothing on the desktop to show a folder (no file manager, no
// xdg-open), the window says where the folder is; where one shows it, no
// notice comes.
TEST(ShutdownTest, AnOutputFolderNothingCanShowIsToldWithItsPath) {
    hollowkit::testsupport::TempDir temp;
    const std::filesystem::path folder = temp.path() / "My \"Best\" Videos" / "Lumenhollow";
    for (const bool fails : {true, false}) {
        SCOPED_TRACE(fails ? "nothing shows it" : "a file manager shows it");
        ModelHarness h;
        h.outputFolder = folder;
        h.desktop.setFails(fails);
        h.createAndStart();
        h.model->openOutputFolder();
        h.main.runUntilIdle();
        EXPECT_EQ(h.desktop.calls(), std::vector<std::string>{"open " + folder.string()});
        if (fails) {
            ASSERT_TRUE(h.state().notice.has_value());
            EXPECT_EQ(*h.state().notice, folderNotShownNotice(folder));
            EXPECT_NE(h.state().notice->find(folder.string()), std::string::npos) << *h.state().notice;
        } else {
            EXPECT_FALSE(h.state().notice.has_value());
        }
    }
}

}  // namespace
}  // namespace lumenhollow::test
