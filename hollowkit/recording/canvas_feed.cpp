#include "hollowkit/recording/canvas_feed.h"

#include <cstring>
#include <utility>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "hollowkit/base/thread_name.h"

namespace hollowkit {

namespace {

constexpr const char* kThreadLabel = "HollowKit.ComposeDraw";

ffmpeg::FramePtr newCanvas(int width, int height) {
    ffmpeg::FramePtr frame = ffmpeg::allocFrame();
    if (!frame) return nullptr;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    frame->color_primaries = AVCOL_PRI_BT709;
    frame->color_trc = AVCOL_TRC_BT709;
    frame->colorspace = AVCOL_SPC_BT709;
    frame->color_range = AVCOL_RANGE_MPEG;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    return frame;
}

}  // namespace

CanvasFeed::CanvasFeed(std::unique_ptr<BubbleCompositor> compositor, std::unique_ptr<PictureFeed> screen,
                       std::unique_ptr<PictureFeed> camera, CanvasFeedSettings settings)
    : compositor_(std::move(compositor)),
      screen_(std::move(screen)),
      camera_(std::move(camera)),
      settings_(std::move(settings)),
      frames_(settings_.depth),
      thread_([this] { run(); }) {}

CanvasFeed::~CanvasFeed() {
    // A finished frame waiting for room is dropped; the thread then ends.
    frames_.close();
}

Result<ffmpeg::FramePtr, std::string> CanvasFeed::next() {
    std::optional<Outcome> frame = frames_.pop();
    if (!frame) return unexpected(std::string("no more frames"));
    return std::move(*frame);
}

void CanvasFeed::run() {
    setCurrentThreadName(kThreadLabel);
    // Each frame is drawn into one of a few canvases taken in turn and handed
    // over as a new reference to it. By the time a canvas comes round again
    // the encoder has let go of it (the queue holds `depth`, the encoder one
    // more), so drawing never waits for a copy.
    std::vector<ffmpeg::FramePtr> canvases(settings_.depth + 2);
    for (int64_t i = 0; i < settings_.frames; ++i) {
        Outcome outcome = compose(i, canvases[static_cast<size_t>(i) % canvases.size()]);
        const bool failed = !outcome;
        if (!frames_.push(std::move(outcome)) || failed) break;
    }
    frames_.close();
}

CanvasFeed::Outcome CanvasFeed::compose(int64_t index, ffmpeg::FramePtr& canvas) {
    const int width = settings_.width;
    const int height = settings_.height;
    if (!canvas) canvas = newCanvas(width, height);
    // Should the encoder still hold it, the canvas gets new buffers first.
    if (!canvas || av_frame_make_writable(canvas.get()) < 0) return unexpected(std::string("out of memory"));
    const double t = static_cast<double>(index) / settings_.frameRate;
    Yuv420Canvas planes;
    for (int p = 0; p < 3; ++p) {
        const int shift = p == 0 ? 0 : 1;
        planes.planes[p] = MutableImagePlane{canvas->data[p], canvas->linesize[p], (width + shift) >> shift,
                                             (height + shift) >> shift};
    }

    PictureFeed::Item screen = screen_->next();
    if (screen.picture) {
        compositor_->drawScreen(screen.picture->planes, t, planes);
    } else {
        if (!screen.error.empty()) return unexpected(settings_.screenLabel + ": " + screen.error);
        // Before the screen's first picture or after its last: black.
        for (int p = 0; p < 3; ++p) {
            const MutableImagePlane& plane = planes.planes[p];
            for (int y = 0; y < plane.height; ++y) {
                std::memset(plane.data + static_cast<ptrdiff_t>(y) * plane.stride, p == 0 ? 16 : 128,
                            static_cast<size_t>(plane.width));
            }
        }
    }
    if (camera_) {
        PictureFeed::Item camera = camera_->next();
        if (camera.picture) {
            if (const BubbleLayer* layer = compositor_->bubbleLayer(camera.picture->planes, t, width, height)) {
                BubbleCompositor::blendLayer(*layer, planes);
            }
        } else if (!camera.error.empty()) {
            return unexpected(settings_.cameraLabel + ": " + camera.error);
        }
    }

    ffmpeg::FramePtr handed(av_frame_clone(canvas.get()));
    if (!handed) return unexpected(std::string("out of memory"));
    handed->pts = index;
    return handed;
}

}  // namespace hollowkit
