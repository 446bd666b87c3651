#pragma once

// FramePath: the road of every camera frame, run on the thread that
// delivered it: the colour look, the capture tap (recording and a waiting
// frame request), the face detector, then the display: straight away, or
// through the background preview when the room is blurred or removed. The
// display is the only step that may reach the main executor: one post per
// shown frame, which puts the frame on the main window's sink and, while
// the notch island shows its live preview, on the island's sink. A sink
// that takes frames off the main executor gets them on the delivering
// thread instead; a frame that no sink needs on the main executor costs
// no post.
//
// The camera's video handler holds the path (and so the objects below),
// never the model; the path holds nothing of the model either, so frames
// still in flight when the model goes finish harmlessly. With no look and
// no treatment the path allocates nothing per frame: a frame waiting for
// the main executor keeps the display step alive until it is shown (an
// executor destroyed with frames still waiting keeps them for good). Sound goes to the
// tap only. Every object here guards itself; the sinks are touched on the
// main executor only, but for deliver() of one that takes frames off it.
//
// Replacing the camera clears both sinks and raises the display generation.
// Each frame carries the generation its camera was attached under, and the
// main executor (or the sink, under its own lock, for one that takes frames
// off the main executor) drops a frame of an older one: a frame of the old camera
// still on its way (waiting for the main executor, in the background
// preview, or mid-delivery while the handlers were cleared) never shows
// after the clear.

#include <cstdint>
#include <memory>

#include "hollowkit/base/executor.h"
#include "hollowkit/imaging/background_preview.h"
#include "hollowkit/imaging/face_detector.h"
#include "hollowkit/imaging/frame_processor.h"
#include "hollowkit/media/audio_chunk.h"
#include "hollowkit/media/video_frame.h"
#include "lumenhollow/model/atomic_flag.h"
#include "lumenhollow/model/capture_tap.h"
#include "lumenhollow/model/video_sink.h"

namespace lumenhollow {

class FramePath {
public:
    struct Parts {
        std::shared_ptr<hollowkit::FrameProcessor> processor;
        std::shared_ptr<CaptureTap> tap;
        std::shared_ptr<hollowkit::FaceDetector> faceDetector;
        std::shared_ptr<AtomicFlag> notchPreviewActive;
        std::shared_ptr<VideoSink> displayLayer;
        std::shared_ptr<VideoSink> notchDisplayLayer;
        std::shared_ptr<hollowkit::BackgroundPreview> backgroundPreview;
    };

    // Every part must be set. `main` must outlive the path and every frame
    // it has posted.
    FramePath(Parts parts, hollowkit::MainExecutor& main);
    ~FramePath();
    FramePath(const FramePath&) = delete;
    FramePath& operator=(const FramePath&) = delete;

    // Main executor. The generation a camera attached now delivers under.
    uint64_t displayGeneration() const;
    // Main executor. Removes the picture from both sinks, the main window's
    // first, and raises the generation, so no frame accepted before shows.
    void clearDisplay();

    // Delivering threads (a camera's capture or video thread). `generation`:
    // the one the delivering camera was attached under.
    void handleVideo(const hollowkit::VideoFrame& sample, uint64_t generation) const;
    void handleAudio(const hollowkit::AudioChunk& chunk) const;

    const Parts& parts() const { return parts_; }

private:
    class DisplayQueue;

    const Parts parts_;
    const std::shared_ptr<DisplayQueue> display_;
};

}  // namespace lumenhollow
