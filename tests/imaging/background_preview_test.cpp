#include "hollowkit/imaging/background_preview.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/testing/fake_segmentation_backend.h"
#include "hollowkit/testing/imaging_test_pictures.h"
#include "hollowkit/testing/manual_executor.h"

namespace hollowkit {
namespace {

const BubbleStyle kBlur{BubbleCorner::bottomTrailing, BubbleSize::medium, BubbleShape::circle, BubbleBackground::blur};
const BubbleStyle kRemove{BubbleCorner::bottomTrailing, BubbleSize::medium, BubbleShape::circle,
                          BubbleBackground::remove};
const BubbleStyle kCutoutKeep{BubbleCorner::topLeading, BubbleSize::small, BubbleShape::cutout, BubbleBackground::keep};
const BubbleStyle kCircleKeep{BubbleCorner::topLeading, BubbleSize::small, BubbleShape::circle, BubbleBackground::keep};

VideoFrame frameAt(int width, int height, int seconds) {
    return makeFigureScene(width, height).frame.withPts(TimePoint{} + std::chrono::seconds(seconds));
}

// A mid-grey NV12 frame; cheap to make at any size.
VideoFrame greyNv12(int width, int height, int seconds) {
    WritableVideoFrame frame = WritableVideoFrame::allocate(PixelFormat::nv12, width, height);
    for (int plane = 0; plane < 2; ++plane) {
        const PlaneSize size = planeSize(PixelFormat::nv12, width, height, plane);
        for (int y = 0; y < size.rows; ++y) {
            std::memset(frame.planeData(plane) + static_cast<size_t>(y) * frame.stride(plane), 128, size.rowBytes);
        }
    }
    return std::move(frame).freeze(TimePoint{} + std::chrono::seconds(seconds));
}

// Frames handed back, in order; thread-safe.
class Deliveries {
public:
    BackgroundPreview::Deliver collector() {
        return [this](const VideoFrame& frame) {
            {
                std::lock_guard lock(mutex_);
                frames_.push_back(frame);
            }
            changed_.notify_all();
        };
    }
    bool waitFor(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return frames_.size() >= count; });
    }
    std::vector<VideoFrame> frames() const {
        std::lock_guard lock(mutex_);
        return frames_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<VideoFrame> frames_;
};

class BackgroundPreviewTest : public ::testing::Test {
protected:
    BackgroundPreviewTest() {
        auto backend = std::make_unique<FakeSegmentationBackend>();
        backend_ = backend.get();
        // The person fills the left half.
        backend_->setResult(FakeSegmentationBackend::rectangleMask(64, 36, {0.0, 0.0, 0.5, 1.0}));
        preview_ = std::make_unique<BackgroundPreview>(std::move(backend), queue_);
    }

    // Submits one frame, runs the queue and returns what was delivered.
    VideoFrame treat(const VideoFrame& frame) {
        const size_t before = deliveries_.frames().size();
        preview_->submit(frame, deliveries_.collector());
        queue_.runUntilIdle();
        const std::vector<VideoFrame> frames = deliveries_.frames();
        EXPECT_EQ(frames.size(), before + 1);
        return frames.empty() ? VideoFrame{} : frames.back();
    }

    ManualExecutor queue_;
    Deliveries deliveries_;
    FakeSegmentationBackend* backend_ = nullptr;
    std::unique_ptr<BackgroundPreview> preview_;
};

TEST_F(BackgroundPreviewTest, ActiveOnlyForStylesThatNeedAPersonMask) {
    EXPECT_EQ(preview_->style(), std::nullopt);
    EXPECT_FALSE(preview_->isActive());
    preview_->setStyle(kCircleKeep);
    EXPECT_FALSE(preview_->isActive());
    for (const BubbleStyle& style : {kBlur, kRemove, kCutoutKeep}) {
        preview_->setStyle(style);
        EXPECT_TRUE(preview_->isActive());
    }
    preview_->setStyle(std::nullopt);
    EXPECT_FALSE(preview_->isActive());
}

TEST_F(BackgroundPreviewTest, OnlyTheNewestWaitingFrameIsTreated) {
    preview_->setStyle(kBlur);
    auto dropped = std::make_shared<int>(0);
    std::weak_ptr<int> droppedAlive = dropped;
    bool droppedCalled = false;
    preview_->submit(frameAt(320, 180, 1), [&droppedCalled, token = std::move(dropped)](const VideoFrame&) {
        droppedCalled = true;
    });
    preview_->submit(frameAt(320, 180, 2), deliveries_.collector());
    // The replaced closure is released at once, uncalled.
    EXPECT_TRUE(droppedAlive.expired());
    queue_.runUntilIdle();
    EXPECT_FALSE(droppedCalled);
    ASSERT_EQ(deliveries_.frames().size(), 1U);
    EXPECT_EQ(deliveries_.frames()[0].pts(), TimePoint{} + std::chrono::seconds(2));
    EXPECT_EQ(backend_->callCount(), 1U);
}

TEST_F(BackgroundPreviewTest, OutputSizeIsCappedAt1920AndEven) {
    preview_->setStyle(kRemove);
    struct Case {
        int width;
        int height;
        int outWidth;
        int outHeight;
    };
    for (const Case& c : {Case{3840, 2160, 1920, 1080}, Case{1280, 720, 1280, 720}, Case{1281, 721, 1282, 722},
                          Case{2000, 1125, 1920, 1080}, Case{1921, 1081, 1920, 1080}}) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        const VideoFrame out = treat(greyNv12(c.width, c.height, 3));
        EXPECT_EQ(out.pixelFormat(), PixelFormat::bgra);
        EXPECT_EQ(out.width(), c.outWidth);
        EXPECT_EQ(out.height(), c.outHeight);
        EXPECT_EQ(out.pts(), TimePoint{} + std::chrono::seconds(3));
        // The segmenter saw the scaled picture.
        EXPECT_EQ(backend_->frameSizes().back(), std::make_pair(c.outWidth, c.outHeight));
    }
}

TEST_F(BackgroundPreviewTest, CutoutRemovesTheRoomWhateverTheBackgroundSays) {
    const VideoFrame frame = frameAt(640, 360, 4);
    for (const BubbleStyle& style : {kCutoutKeep, kRemove}) {
        preview_->setStyle(style);
        const VideoFrame out = treat(frame);
        // Right half is room: the backdrop's outer colour in the corner.
        EXPECT_EQ(pixelAt(out, 639, 0), (BgraPixel{23, 20, 20, 255}));
        // Left half is the person: camera pixels.
        EXPECT_EQ(pixelAt(out, 10, 300), pixelAt(frame, 10, 300));
    }
}

TEST_F(BackgroundPreviewTest, UntreatableFramesGoOnUnchanged) {
    const VideoFrame frame = frameAt(640, 360, 5);
    // No style, and a style without a mask, deliver the very frame.
    EXPECT_TRUE(treat(frame).sharesPixelsWith(frame));
    preview_->setStyle(kCircleKeep);
    EXPECT_TRUE(treat(frame).sharesPixelsWith(frame));
    // No mask available: the submitted frame itself, not a blank one.
    preview_->setStyle(kBlur);
    backend_->setResult(std::nullopt);
    EXPECT_TRUE(treat(frame).sharesPixelsWith(frame));
    EXPECT_TRUE(treat(VideoFrame{}).isNull());
}

TEST_F(BackgroundPreviewTest, TheFaceHintReachesTheSegmenter) {
    preview_->setStyle(kBlur);
    const NormalizedRect face{0.4, 0.2, 0.1, 0.2};
    preview_->setFace(face);
    treat(frameAt(320, 180, 6));
    preview_->setFace(std::nullopt);
    treat(frameAt(320, 180, 7));
    EXPECT_EQ(backend_->faces(), (std::vector<std::optional<NormalizedRect>>{face, std::nullopt}));
}

// The frame-sized working pictures (a 4K frame scaled to 1080p, blurred and
// treated) stay while the style needs a person mask and go, on the queue,
// once it does not; a style turned back on before then keeps them.
TEST_F(BackgroundPreviewTest, TheWorkingPicturesGoOnceTheStyleNeedsNoTreatment) {
    struct Case {
        const char* name;
        BubbleStyle from;
        std::optional<BubbleStyle> to;
        bool backBeforeTheQueueRuns;
        bool kept;
    };
    const Case cases[] = {
        {"blur turned off", kBlur, kCircleKeep, false, false},
        {"the screen turned off with blur", kBlur, std::nullopt, false, false},
        {"the room's removal turned off", kRemove, kCircleKeep, false, false},
        {"blur to removal", kBlur, kRemove, false, true},
        {"blur off and on again", kBlur, kCircleKeep, true, true},
    };
    constexpr size_t kFrameBytes = size_t{1920} * 1080 * 4;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        preview_->setStyle(c.from);
        treat(greyNv12(3840, 2160, 1));
        EXPECT_GE(preview_->workingBytes(), 2 * kFrameBytes) << "a scaled input and a treated output at least";
        preview_->setStyle(c.to);
        if (c.backBeforeTheQueueRuns) preview_->setStyle(c.from);
        queue_.runUntilIdle();
        if (c.kept) {
            EXPECT_GE(preview_->workingBytes(), 2 * kFrameBytes);
        } else {
            EXPECT_EQ(preview_->workingBytes(), 0U);
        }
    }
}

TEST(BackgroundPreviewQueueTest, ASlowSegmentationNeverBlocksTheVideoThread) {
    auto backend = std::make_unique<FakeSegmentationBackend>();
    FakeSegmentationBackend& fake = *backend;
    fake.setResult(FakeSegmentationBackend::rectangleMask(64, 36, {0.0, 0.0, 0.5, 1.0}));
    fake.closeGate();
    Deliveries deliveries;  // outlives the preview's queue
    BackgroundPreview preview(std::move(backend));
    preview.setStyle(kBlur);

    preview.submit(frameAt(320, 180, 1), deliveries.collector());
    ASSERT_TRUE(fake.waitForCalls(1));
    // The first frame hangs in the segmenter; these two return at once (the
    // gate is still shut), the first of them replaced by the second.
    bool replacedCalled = false;
    preview.submit(frameAt(320, 180, 2), [&replacedCalled](const VideoFrame&) { replacedCalled = true; });
    preview.submit(frameAt(320, 180, 3), deliveries.collector());
    fake.openGate();

    ASSERT_TRUE(deliveries.waitFor(2));
    const std::vector<VideoFrame> frames = deliveries.frames();
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_EQ(frames[0].pts(), TimePoint{} + std::chrono::seconds(1));
    EXPECT_EQ(frames[1].pts(), TimePoint{} + std::chrono::seconds(3));
    EXPECT_FALSE(replacedCalled);
    EXPECT_EQ(fake.callCount(), 2U);
}

}  // namespace
}  // namespace hollowkit
