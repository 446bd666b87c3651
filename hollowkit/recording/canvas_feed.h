#pragma once

// CanvasFeed: the pictures of a combined screen-and-camera movie, composed in
// frame order on the feed's own thread ("HollowKit.ComposeDraw") from the
// screen's and the camera's PictureFeeds and handed over a few frames ahead
// of the encoder as 4:2:0 frames (BT.709, limited range) stamped with their
// frame index.
//
// Owns its compositor, both picture feeds and its thread; one consumer calls
// next() once per frame, in order. Composing ends after the last frame or at
// the first frame whose screen or camera picture could not be decoded, which
// that frame's next() reports. Destroying the feed stops its thread after the
// frame in progress.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hollowkit/base/bounded_queue.h"
#include "hollowkit/base/result.h"
#include "hollowkit/media/ffmpeg_handles.h"
#include "hollowkit/recording/bubble_compositor.h"
#include "hollowkit/recording/picture_feed.h"

namespace hollowkit {

struct CanvasFeedSettings {
    int width = 0;   // the combined movie's size
    int height = 0;
    int64_t frames = 0;
    int frameRate = 30;
    size_t depth = 2;  // composed frames that may wait for the encoder
    // Put before a feed's decoding error in the text next() returns.
    std::string screenLabel;
    std::string cameraLabel;
};

class CanvasFeed {
public:
    // `camera` may be null: no bubble. Starts composing at once.
    CanvasFeed(std::unique_ptr<BubbleCompositor> compositor, std::unique_ptr<PictureFeed> screen,
               std::unique_ptr<PictureFeed> camera, CanvasFeedSettings settings);
    ~CanvasFeed();
    CanvasFeed(const CanvasFeed&) = delete;
    CanvasFeed& operator=(const CanvasFeed&) = delete;

    // The consumer's thread. The next frame, waiting for it to be composed,
    // or why composing it failed ("<label>: <decoding error>", "out of
    // memory"). Asked for more frames than there are, it fails too.
    Result<ffmpeg::FramePtr, std::string> next();

private:
    using Outcome = Result<ffmpeg::FramePtr, std::string>;

    void run();
    Outcome compose(int64_t index, ffmpeg::FramePtr& canvas);

    const std::unique_ptr<BubbleCompositor> compositor_;  // the feed's thread only
    const std::unique_ptr<PictureFeed> screen_;
    const std::unique_ptr<PictureFeed> camera_;
    const CanvasFeedSettings settings_;
    BoundedQueue<Outcome> frames_;
    std::jthread thread_;  // last: starts once everything above is ready
};

}  // namespace hollowkit
