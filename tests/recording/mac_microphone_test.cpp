#include "hollowkit/recording/mac_microphone.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/testing/fake_audio_input.h"
#include "hollowkit/testing/manual_executor.h"
#include "recording_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

const AudioInputOption kBuiltIn{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo"};
const AudioInputOption kHeadset{"alsa_input.usb-Jabra_Headset-00.mono-fallback", "Jabra Headset Mono"};

// What reached the owner's handlers, and on which thread.
class Received {
public:
    void chunk(const AudioChunk& chunk) {
        std::lock_guard lock(mutex_);
        chunks_.push_back(chunk);
        threads_.push_back(std::this_thread::get_id());
        changed_.notify_all();
    }
    void failure(const MicrophoneError& error) {
        std::lock_guard lock(mutex_);
        failures_.push_back(error);
        failureThreads_.push_back(std::this_thread::get_id());
    }
    bool waitForChunks(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return chunks_.size() >= count; });
    }
    std::vector<AudioChunk> chunks() const {
        std::lock_guard lock(mutex_);
        return chunks_;
    }
    std::vector<std::thread::id> threads() const {
        std::lock_guard lock(mutex_);
        return threads_;
    }
    std::vector<MicrophoneError> failures() const {
        std::lock_guard lock(mutex_);
        return failures_;
    }
    std::vector<std::thread::id> failureThreads() const {
        std::lock_guard lock(mutex_);
        return failureThreads_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        chunks_.clear();
        threads_.clear();
        failures_.clear();
        failureThreads_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<AudioChunk> chunks_;
    std::vector<std::thread::id> threads_;
    std::vector<MicrophoneError> failures_;
    std::vector<std::thread::id> failureThreads_;
};

class MacMicrophoneTest : public ::testing::Test {
protected:
    using StartResult = MacMicrophone::StartResult;

    // What one start's completion said, and whether it ran on the main
    // executor (the test's thread, while main_ runs its work).
    struct Outcome {
        std::optional<StartResult> result;
        bool onMain = false;
        int calls = 0;
    };

    MacMicrophoneTest() {
        backend_.setInputs({kBuiltIn, kHeadset});
        backend_.setDefaultInputId(kBuiltIn.id);
    }

    std::unique_ptr<MacMicrophone> makeMicrophone() {
        auto microphone = std::make_unique<MacMicrophone>(backend_, main_);
        microphone->setOnSample([this](const AudioChunk& chunk) { received_.chunk(chunk); });
        microphone->setOnFailure([this](const MicrophoneError& error) { received_.failure(error); });
        return microphone;
    }

    // Starts without waiting; the outcome fills in as main_ runs.
    std::shared_ptr<Outcome> startLater(MacMicrophone& microphone, std::optional<std::string> id) {
        auto outcome = std::make_shared<Outcome>();
        microphone.start(std::move(id), [this, outcome](const StartResult& result) {
            outcome->result = result;
            outcome->onMain = main_.isCurrent();
            ++outcome->calls;
        });
        return outcome;
    }

    bool waitFor(const std::shared_ptr<Outcome>& outcome) {
        return main_.waitFor([&] { return outcome->result.has_value(); });
    }

    // Waits (bounded) until something is posted to main_, without running it.
    bool waitUntilMainHasWork() {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (main_.idle()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::yield();
        }
        return true;
    }

    StartResult start(MacMicrophone& microphone, std::optional<std::string> id) {
        auto outcome = startLater(microphone, std::move(id));
        // The completion is posted, never run inside start().
        EXPECT_EQ(outcome->calls, 0);
        EXPECT_TRUE(waitFor(outcome));
        EXPECT_TRUE(outcome->onMain);
        return outcome->result.value_or(unexpected(MicrophoneError{}));
    }

    ManualExecutor main_;
    FakeAudioInputBackend backend_;
    Received received_;
    testsupport::LogCapture log_;
};

// The identifier picks the input; an unplugged one falls back to the
// default input silently, and the log names the input really used.
TEST_F(MacMicrophoneTest, ChoosesTheInputAndFallsBackToTheDefault) {
    struct Case {
        std::optional<std::string> requested;
        AudioInputOption used;
    };
    const Case cases[] = {
        {kHeadset.id, kHeadset},
        {std::nullopt, kBuiltIn},
        {std::string("alsa_input.usb-unplugged"), kBuiltIn},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requested.value_or("(default)"));
        auto microphone = makeMicrophone();
        const StartResult started = start(*microphone, c.requested);
        ASSERT_TRUE(started.has_value()) << started.error().detail;
        EXPECT_EQ(*started, c.used);
        EXPECT_EQ(backend_.openedIds().back(), c.used.id);
        EXPECT_EQ(microphone->activeInput(), c.used);
        EXPECT_TRUE(log_.contains("Mac microphone recording from " + c.used.name));
    }
}

// Every way a start can fail reaches the completion, on the main executor,
// with the sentence the user sees; nothing is left running.
TEST_F(MacMicrophoneTest, FailedStartsReachTheCompletionWithTheirSentence) {
    const std::string kNotAllowed = "Lumenhollow needs Microphone access. Allow it in Settings › Privacy › Microphone.";
    const std::string kUnavailable = "That microphone is not connected";
    struct Case {
        const char* what;
        std::function<void(FakeAudioInputBackend&)> setup;
        std::optional<std::string> requested;
        MicrophoneError::Kind kind;
        std::string message;
    };
    const Case cases[] = {
        {"access not asked yet", [](auto& b) { b.setAccess(MicrophoneAccess::notDetermined); }, std::nullopt,
         MicrophoneError::Kind::notAllowed, kNotAllowed},
        {"access denied", [](auto& b) { b.setAccess(MicrophoneAccess::denied); }, std::nullopt,
         MicrophoneError::Kind::notAllowed, kNotAllowed},
        {"the input will not open",
         [](auto& b) { b.setOpenFailure(kHeadset.id, MicrophoneError::unavailable("device busy")); }, kHeadset.id,
         MicrophoneError::Kind::unavailable, kUnavailable},
        {"no input at all", [](auto& b) { b.setInputs({}); }, std::nullopt, MicrophoneError::Kind::unavailable,
         kUnavailable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeAudioInputBackend backend;
        backend.setInputs({kBuiltIn, kHeadset});
        backend.setDefaultInputId(kBuiltIn.id);
        c.setup(backend);
        MacMicrophone microphone(backend, main_);
        auto outcome = startLater(microphone, c.requested);
        ASSERT_TRUE(waitFor(outcome));
        EXPECT_TRUE(outcome->onMain);
        ASSERT_FALSE(outcome->result->has_value());
        EXPECT_EQ(outcome->result->error().kind, c.kind);
        EXPECT_EQ(outcome->result->error().userMessage(), c.message);
        EXPECT_EQ(backend.openCaptureCount(), 0);
        EXPECT_FALSE(microphone.activeInput().has_value());
        EXPECT_EQ(backend.requestAccessCalls(), 0);  // start never asks
    }
    EXPECT_TRUE(log_.contains("device busy"));
}

// Asking is separate from starting and happens only while the answer is
// unknown.
TEST_F(MacMicrophoneTest, AccessIsAskedOnlyWhileUnknown) {
    backend_.setAccess(MicrophoneAccess::denied);
    EXPECT_FALSE(MacMicrophone::requestAccess(backend_));
    backend_.setAccess(MicrophoneAccess::notDetermined);
    backend_.setAccessAnswer(true);
    EXPECT_TRUE(MacMicrophone::requestAccess(backend_));
    EXPECT_TRUE(MacMicrophone::requestAccess(backend_));  // known now: not asked again
    EXPECT_EQ(backend_.requestAccessCalls(), 2);
    auto microphone = makeMicrophone();
    EXPECT_TRUE(start(*microphone, std::nullopt).has_value());
}

// A failed switch closes the old input first: nothing runs afterwards.
TEST_F(MacMicrophoneTest, AFailedSwitchLeavesNothingRunning) {
    auto microphone = makeMicrophone();
    ASSERT_TRUE(start(*microphone, kBuiltIn.id).has_value());
    ASSERT_EQ(backend_.openCaptureCount(), 1);
    backend_.setOpenFailure(kHeadset.id, MicrophoneError::unavailable("device busy"));
    ASSERT_FALSE(start(*microphone, kHeadset.id).has_value());
    EXPECT_EQ(backend_.openCaptureCount(), 0);
    EXPECT_FALSE(microphone->activeInput().has_value());
    EXPECT_TRUE(MacMicrophone::availableInputs(backend_).size() == 2);
}

// A start overtaken while the sound server is still opening its stream
// completes once, as cancelled; the stream is closed before the owner hears
// so, and none of its sound reaches the handler, also what came before the
// open returned.
TEST_F(MacMicrophoneTest, AStartOvertakenWhileOpeningIsCancelledAndDeliversNothing) {
    struct Case {
        const char* what;
        // Runs while the first open is held; returns the start that
        // overtook it, if any.
        std::function<std::shared_ptr<Outcome>(std::unique_ptr<MacMicrophone>&)> overtake;
        // Whether the overtaking is sure to come before the open returns.
        // The destruction lets the open go from another thread, which may
        // win: the start then completed first, and its early sound counts.
        bool beforeOpenReturns = true;
    };
    const Case cases[] = {
        {"stop", [](std::unique_ptr<MacMicrophone>& m) -> std::shared_ptr<Outcome> {
             m->stop();
             return nullptr;
         }},
        {"another start", [this](std::unique_ptr<MacMicrophone>& m) { return startLater(*m, kHeadset.id); }},
        {"the microphone destroyed", [this](std::unique_ptr<MacMicrophone>& m) -> std::shared_ptr<Outcome> {
             // The destruction waits for the held open: let it go beside it.
             std::thread release([this] { backend_.releaseOpens(); });
             m.reset();
             release.join();
             return nullptr;
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        received_.clear();
        auto microphone = makeMicrophone();
        backend_.holdOpens();
        auto first = startLater(*microphone, kBuiltIn.id);
        ASSERT_TRUE(backend_.waitForHeldOpen());
        // Sound may flow before the server reports the stream ready.
        ASSERT_TRUE(backend_.emitSine(440, 480));
        auto second = c.overtake(microphone);
        // Sound of the overtaken stream that comes later is dropped as well.
        backend_.emitSine(440, 480);
        backend_.releaseOpens();

        ASSERT_TRUE(waitFor(first));
        EXPECT_EQ(first->calls, 1);
        ASSERT_FALSE(first->result->has_value());
        EXPECT_EQ(first->result->error().kind, MicrophoneError::Kind::cancelled);
        EXPECT_EQ(first->result->error().userMessage(), "");
        if (second) {
            ASSERT_TRUE(waitFor(second));
            ASSERT_TRUE(second->result->has_value());
            EXPECT_EQ(**second->result, kHeadset);
            EXPECT_EQ(backend_.openCaptureCount(), 1);
        } else {
            EXPECT_EQ(backend_.openCaptureCount(), 0);
        }
        // Destruction runs everything still queued: any chunk of the first
        // stream would have been delivered by then.
        microphone.reset();
        main_.runUntilIdle();
        EXPECT_LE(received_.chunks().size(), c.beforeOpenReturns ? 0U : 1U);
        EXPECT_EQ(first->calls, 1);
    }
}

// A success told after a stop that the owner made meanwhile would be a lie:
// by the time the completion runs on the main executor it says cancelled.
TEST_F(MacMicrophoneTest, AStopBeforeTheCompletionRunsTurnsItIntoCancelled) {
    auto microphone = makeMicrophone();
    auto outcome = startLater(*microphone, std::nullopt);
    // The stream opens on the queue; its completion waits on main_.
    ASSERT_TRUE(waitUntilMainHasWork());
    microphone->stop();
    ASSERT_TRUE(waitFor(outcome));
    ASSERT_FALSE(outcome->result->has_value());
    EXPECT_EQ(outcome->result->error().kind, MicrophoneError::Kind::cancelled);
}

// Chunks reach the handler on the microphone's queue, unchanged and in
// order; a switch closes the old input before the new one delivers.
TEST_F(MacMicrophoneTest, DeliversChunksOnItsQueueAndSwitchesInputs) {
    auto microphone = makeMicrophone();
    ASSERT_TRUE(start(*microphone, kBuiltIn.id).has_value());
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(backend_.emitSine(440, 480));
    ASSERT_TRUE(received_.waitForChunks(5));

    ASSERT_TRUE(start(*microphone, kHeadset.id).has_value());
    EXPECT_EQ(backend_.openCaptureCount(), 1);
    EXPECT_EQ(backend_.openedIds(), (std::vector<std::string>{kBuiltIn.id, kHeadset.id}));
    ASSERT_TRUE(backend_.emitSine(440, 480));
    ASSERT_TRUE(received_.waitForChunks(6));

    const auto chunks = received_.chunks();
    for (size_t i = 1; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].pts(), chunks[i - 1].pts() + chunks[i - 1].duration()) << i;
    }
    for (const auto& thread : received_.threads()) EXPECT_NE(thread, std::this_thread::get_id());
}

// After stop nothing more reaches the owner, and the stream is closed.
TEST_F(MacMicrophoneTest, StopEndsDelivery) {
    auto microphone = makeMicrophone();
    ASSERT_TRUE(start(*microphone, std::nullopt).has_value());
    ASSERT_TRUE(backend_.emitSine(440, 480));
    ASSERT_TRUE(received_.waitForChunks(1));
    microphone->stop();
    EXPECT_FALSE(microphone->activeInput().has_value());
    backend_.emitSine(440, 480);  // may still find the stream open
    microphone.reset();           // runs the close and anything queued
    EXPECT_EQ(received_.chunks().size(), 1U);
    EXPECT_EQ(backend_.openCaptureCount(), 0);
}

// A capture that dies later (device unplugged, server gone) is reported,
// once, on the main executor; not after a stop that came first.
TEST_F(MacMicrophoneTest, ReportsAFailureOfTheRunningCaptureOnTheMainExecutor) {
    auto microphone = makeMicrophone();
    ASSERT_TRUE(start(*microphone, kHeadset.id).has_value());
    ASSERT_TRUE(backend_.fail(MicrophoneError::unavailable("unplugged")));
    ASSERT_TRUE(main_.waitFor([&] { return !received_.failures().empty(); }));
    EXPECT_EQ(received_.failures().size(), 1U);
    EXPECT_EQ(received_.failures().front().userMessage(), "That microphone is not connected");
    EXPECT_EQ(received_.failureThreads().front(), std::this_thread::get_id());
    EXPECT_FALSE(microphone->activeInput().has_value());
    EXPECT_TRUE(log_.contains("unplugged"));

    // The failure is on its way to the main executor when the owner stops.
    ASSERT_TRUE(start(*microphone, kBuiltIn.id).has_value());
    ASSERT_TRUE(backend_.fail(MicrophoneError::unavailable("server gone")));
    ASSERT_TRUE(waitUntilMainHasWork());
    microphone->stop();
    main_.runUntilIdle();
    EXPECT_EQ(received_.failures().size(), 1U);
}

// A handler that stalls does not make the microphone hoard sound: while it
// is stuck, at most kMaxQueuedChunks wait and the rest are dropped.
TEST_F(MacMicrophoneTest, SlowHandlerDropsChunksInsteadOfQueueingThemAll) {
    constexpr size_t kMarkerFrames = 7;
    std::mutex gate;
    std::unique_lock closed(gate);
    std::mutex mutex;
    std::condition_variable changed;
    int delivered = 0;
    bool markerSeen = false;
    auto microphone = std::make_unique<MacMicrophone>(backend_, main_);
    microphone->setOnSample([&](const AudioChunk& chunk) {
        std::lock_guard wait(gate);
        std::lock_guard lock(mutex);
        ++delivered;
        markerSeen = markerSeen || chunk.frameCount() == kMarkerFrames;
        changed.notify_all();
    });
    ASSERT_TRUE(start(*microphone, std::nullopt).has_value());
    for (int i = 0; i < MacMicrophone::kMaxQueuedChunks * 3; ++i) backend_.emitSine(440, 48);
    closed.unlock();

    // The first chunk may have been taken off the queue before the rest came.
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return delivered >= MacMicrophone::kMaxQueuedChunks; }));
    lock.unlock();
    backend_.emitSine(440, kMarkerFrames);
    lock.lock();
    ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return markerSeen; }));
    EXPECT_LE(delivered, MacMicrophone::kMaxQueuedChunks + 2);
}

}  // namespace
}  // namespace hollowkit
