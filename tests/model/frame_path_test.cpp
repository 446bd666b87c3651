#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "model_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::AudioChunk;
using hollowkit::VideoFrame;

class RecordingRecorder final : public SampleRecorder {
public:
    void appendVideo(const VideoFrame& frame) override {
        std::lock_guard guard(mutex_);
        frames_.push_back(frame);
    }
    void appendAudio(const AudioChunk& chunk) override {
        std::lock_guard guard(mutex_);
        chunks_.push_back(chunk);
    }
    std::vector<VideoFrame> frames() const {
        std::lock_guard guard(mutex_);
        return frames_;
    }
    size_t chunkCount() const {
        std::lock_guard guard(mutex_);
        return chunks_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<VideoFrame> frames_;  // guarded by mutex_
    std::vector<AudioChunk> chunks_;  // guarded by mutex_
};

AudioChunk tone() {
    const std::vector<float> samples(480, 0.25f);
    return AudioChunk::copyF32(samples, 48000, 1, {});
}

TEST(FramePathTest, OneFrameObjectReachesRecorderRequestDetectorAndScreen) {
    ModelHarness h;
    h.createAndStart();
    auto recorder = std::make_shared<RecordingRecorder>();
    h.model->tap().setRecorder(recorder);
    std::vector<VideoFrame> requested;
    std::vector<VideoFrame> alsoRequested;
    h.model->tap().addFrameRequest([&requested](const VideoFrame& frame) { requested.push_back(frame); });
    h.model->tap().addFrameRequest([&alsoRequested](const VideoFrame& frame) { alsoRequested.push_back(frame); });
    h.model->faceDetector().setEnabled(true);

    const VideoFrame first = FakeCamera::makeFrame(64, 36);
    const VideoFrame second = FakeCamera::makeFrame(64, 36);
    h.camera()->deliverFrame(first);
    h.camera()->deliverFrame(second);
    h.main.runUntilIdle();

    ASSERT_EQ(h.displayLayer->frames().size(), 2u);
    EXPECT_TRUE(h.displayLayer->frames()[0].sharesPixelsWith(first));
    EXPECT_TRUE(h.displayLayer->frames()[1].sharesPixelsWith(second));
    ASSERT_EQ(recorder->frames().size(), 2u);
    EXPECT_TRUE(recorder->frames()[0].sharesPixelsWith(first));
    ASSERT_EQ(requested.size(), 1u) << "a request takes one frame";
    EXPECT_TRUE(requested[0].sharesPixelsWith(first));
    ASSERT_EQ(alsoRequested.size(), 1u) << "a second request is not dropped by the first";
    EXPECT_TRUE(alsoRequested[0].sharesPixelsWith(first));
    EXPECT_EQ(h.model->tap().pendingFrameRequests(), 0u);
    ASSERT_EQ(h.faceBackend->frames().size(), 1u) << "the second frame came too soon";
    EXPECT_TRUE(h.faceBackend->frames()[0].sharesPixelsWith(first));
    EXPECT_EQ(h.notchLayer->enqueued(), 0);
}

TEST(FramePathTest, EachFrameIsOnePostThatFeedsTheIslandOnlyWhileItsPreviewIsOpen) {
    ModelHarness h;
    h.createAndStart();
    const std::vector<bool> open{false, true, true, false, true};
    for (bool islandOpen : open) {
        h.model->notchPreviewActive().set(islandOpen);
        h.camera()->deliverFrame(FakeCamera::makeFrame(32, 18));
        EXPECT_EQ(h.main.runUntilIdle(), 1u);
    }
    EXPECT_EQ(h.displayLayer->enqueued(), 5);
    EXPECT_EQ(h.notchLayer->enqueued(), 3);
}

TEST(FramePathTest, AFailedSinkIsFlushedAndThenShowsTheFrame) {
    ModelHarness h;
    h.createAndStart();
    h.model->notchPreviewActive().set(true);
    h.notchLayer->fail();
    const VideoFrame frame = FakeCamera::makeFrame(32, 18);
    h.camera()->deliverFrame(frame);
    h.main.runUntilIdle();
    EXPECT_EQ(h.notchLayer->flushes(), 1);
    ASSERT_EQ(h.notchLayer->frames().size(), 1u);
    EXPECT_TRUE(h.notchLayer->frames()[0].sharesPixelsWith(frame));
    EXPECT_EQ(h.displayLayer->flushes(), 0);
}

TEST(FramePathTest, WithTheRoomTreatedThePreviewShowsTheTreatedFrameAndTheRecordingTheOriginal) {
    ModelHarness h;
    h.settings.set("recordScreen", true);
    h.settings.set("bubbleBackground", std::string("Remove"));
    h.createAndStart();
    ASSERT_TRUE(h.model->backgroundPreview().isActive());
    h.segmentation->setResult(
        hollowkit::FakeSegmentationBackend::rectangleMask(64, 36, hollowkit::NormalizedRect{0.25, 0.25, 0.5, 0.5}));
    auto recorder = std::make_shared<RecordingRecorder>();
    h.model->tap().setRecorder(recorder);

    const VideoFrame frame = FakeCamera::makeFrame(64, 36);
    h.camera()->deliverFrame(frame);
    h.main.runUntilIdle();
    ASSERT_EQ(recorder->frames().size(), 1u);
    EXPECT_TRUE(recorder->frames()[0].sharesPixelsWith(frame));
    ASSERT_EQ(h.displayLayer->frames().size(), 1u);
    EXPECT_FALSE(h.displayLayer->frames()[0].sharesPixelsWith(frame));
}

TEST(FramePathTest, SoundOnlyStampsTheTapUntilARecorderIsSet) {
    ModelHarness h;
    h.createAndStart();
    EXPECT_EQ(h.model->tap().lastAudio(), hollowkit::kDistantPast);
    h.camera()->deliverAudio(tone());
    EXPECT_EQ(h.model->tap().lastAudio(), h.main.clock().now());

    auto recorder = std::make_shared<RecordingRecorder>();
    h.model->tap().setRecorder(recorder);
    h.main.advanceSeconds(0.5);
    h.camera()->deliverAudio(tone());
    EXPECT_EQ(recorder->chunkCount(), 1u);
    EXPECT_EQ(h.model->tap().lastAudio(), h.main.clock().now());
    EXPECT_EQ(h.displayLayer->enqueued(), 0);
}

TEST(FramePathTest, FramesFromTheCameraThreadReachTheScreenWhileTheMainThreadChangesTheTap) {
    ModelHarness h;
    h.createAndStart();
    auto camera = h.camera();
    camera->startFrames(250, [](uint64_t) { return FakeCamera::makeFrame(32, 18); });
    // The main thread keeps swapping recorders, requests and the island flag under the frames.
    std::atomic<int> requestsAnswered{0};
    int round = 0;
    const bool reached = h.main.waitFor([&] {
        ++round;
        h.model->tap().setRecorder(round % 2 ? std::make_shared<RecordingRecorder>() : nullptr);
        if (h.model->tap().pendingFrameRequests() == 0) {
            h.model->tap().addFrameRequest([&requestsAnswered](const VideoFrame&) { requestsAnswered.fetch_add(1); });
        }
        h.model->notchPreviewActive().set(round % 3 == 0);
        return h.displayLayer->enqueued() >= 40 && requestsAnswered.load() >= 5;
    });
    camera->stopFrames();
    h.main.runUntilIdle();
    ASSERT_TRUE(reached);
    EXPECT_EQ(static_cast<uint64_t>(h.displayLayer->enqueued()), camera->framesDelivered());
}

}  // namespace
}  // namespace lumenhollow::test
