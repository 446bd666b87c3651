#include "hollowkit/recording/mac_microphone.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/testing/fake_audio_input.h"
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
        changed_.notify_all();
    }
    bool waitForChunks(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return chunks_.size() >= count; });
    }
    bool waitForFailure() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return !failures_.empty(); });
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

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<AudioChunk> chunks_;
    std::vector<std::thread::id> threads_;
    std::vector<MicrophoneError> failures_;
};

class MacMicrophoneTest : public ::testing::Test {
protected:
    MacMicrophoneTest() {
        backend_.setInputs({kBuiltIn, kHeadset});
        backend_.setDefaultInputId(kBuiltIn.id);
    }

    std::unique_ptr<MacMicrophone> makeMicrophone() {
        auto microphone = std::make_unique<MacMicrophone>(backend_);
        microphone->setOnSample([this](const AudioChunk& chunk) { received_.chunk(chunk); });
        microphone->setOnFailure([this](const MicrophoneError& error) { received_.failure(error); });
        return microphone;
    }

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
        const auto started = microphone->start(c.requested);
        ASSERT_TRUE(started.has_value()) << started.error().detail;
        EXPECT_EQ(backend_.openedIds().back(), c.used.id);
        EXPECT_EQ(microphone->activeInput(), c.used);
        EXPECT_TRUE(log_.contains("Mac microphone recording from " + c.used.name));
    }
}

// Without access start fails at once and never asks; asking is separate and
// happens only while the answer is unknown.
TEST_F(MacMicrophoneTest, StartWithoutAccessIsNotAllowedAndDoesNotAsk) {
    for (const MicrophoneAccess access : {MicrophoneAccess::notDetermined, MicrophoneAccess::denied}) {
        backend_.setAccess(access);
        auto microphone = makeMicrophone();
        const auto started = microphone->start(std::nullopt);
        ASSERT_FALSE(started.has_value());
        EXPECT_EQ(started.error().kind, MicrophoneError::Kind::notAllowed);
        EXPECT_EQ(started.error().userMessage(),
                  "Lumenhollow needs Microphone access. Allow it in Settings › Privacy › Microphone.");
    }
    EXPECT_EQ(backend_.requestAccessCalls(), 0);
    EXPECT_TRUE(backend_.openedIds().empty());

    backend_.setAccess(MicrophoneAccess::denied);
    EXPECT_FALSE(MacMicrophone::requestAccess(backend_));
    backend_.setAccess(MicrophoneAccess::notDetermined);
    backend_.setAccessAnswer(true);
    EXPECT_TRUE(MacMicrophone::requestAccess(backend_));
    EXPECT_TRUE(MacMicrophone::requestAccess(backend_));  // known now: not asked again
    EXPECT_EQ(backend_.requestAccessCalls(), 2);
    EXPECT_TRUE(makeMicrophone()->start(std::nullopt).has_value());
}

// No input at all, or one that will not open: unavailable, and nothing runs
// afterwards, even when a capture ran before the failed switch.
TEST_F(MacMicrophoneTest, MissingOrBrokenInputIsUnavailableAndLeavesNothingRunning) {
    auto microphone = makeMicrophone();
    ASSERT_TRUE(microphone->start(kBuiltIn.id).has_value());
    ASSERT_EQ(backend_.openCaptureCount(), 1);

    backend_.setOpenFailure(kHeadset.id, MicrophoneError::unavailable("device busy"));
    auto started = microphone->start(kHeadset.id);
    ASSERT_FALSE(started.has_value());
    EXPECT_EQ(started.error().userMessage(), "That microphone is not connected");
    EXPECT_EQ(backend_.openCaptureCount(), 0);
    EXPECT_FALSE(microphone->activeInput().has_value());
    EXPECT_TRUE(log_.contains("device busy"));

    backend_.setInputs({});
    started = microphone->start(std::nullopt);
    ASSERT_FALSE(started.has_value());
    EXPECT_EQ(started.error().kind, MicrophoneError::Kind::unavailable);
    EXPECT_EQ(backend_.openCaptureCount(), 0);
    EXPECT_TRUE(MacMicrophone::availableInputs(backend_).empty());
}

// Chunks reach the handler on the microphone's queue, unchanged and in
// order; a switch closes the old input before the new one delivers.
TEST_F(MacMicrophoneTest, DeliversChunksOnItsQueueAndSwitchesInputs) {
    auto microphone = makeMicrophone();
    ASSERT_TRUE(microphone->start(kBuiltIn.id).has_value());
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(backend_.emitSine(440, 480));
    ASSERT_TRUE(received_.waitForChunks(5));

    ASSERT_TRUE(microphone->start(kHeadset.id).has_value());
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
    ASSERT_TRUE(microphone->start(std::nullopt).has_value());
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
// once, on the queue.
TEST_F(MacMicrophoneTest, ReportsAFailureOfTheRunningCapture) {
    auto microphone = makeMicrophone();
    ASSERT_TRUE(microphone->start(kHeadset.id).has_value());
    ASSERT_TRUE(backend_.fail(MicrophoneError::unavailable("unplugged")));
    ASSERT_TRUE(received_.waitForFailure());
    EXPECT_EQ(received_.failures().size(), 1U);
    EXPECT_EQ(received_.failures().front().userMessage(), "That microphone is not connected");
    EXPECT_FALSE(microphone->activeInput().has_value());
    EXPECT_TRUE(log_.contains("unplugged"));
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
    auto microphone = std::make_unique<MacMicrophone>(backend_);
    microphone->setOnSample([&](const AudioChunk& chunk) {
        std::lock_guard wait(gate);
        std::lock_guard lock(mutex);
        ++delivered;
        markerSeen = markerSeen || chunk.frameCount() == kMarkerFrames;
        changed.notify_all();
    });
    ASSERT_TRUE(microphone->start(std::nullopt).has_value());
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
