#include "lumenhollow/model/frame_path.h"

#include <utility>

namespace lumenhollow {

namespace {

// Main executor.
void displaySample(bool islandPreviewActive, VideoSink& displayLayer, VideoSink& notchDisplayLayer,
                   const hollowkit::VideoFrame& frame) {
    for (VideoSink* sink : {&displayLayer, islandPreviewActive ? &notchDisplayLayer : nullptr}) {
        if (!sink) continue;
        // A failed renderer shows nothing more until flushed; recover it with this frame.
        if (sink->hasFailed()) sink->flush();
        sink->enqueue(frame);
    }
}

// What the last step needs, copied so it can run on the background
// preview's queue after the path has gone (and without holding the preview).
struct DisplayStep {
    std::shared_ptr<AtomicFlag> notchPreviewActive;
    std::shared_ptr<VideoSink> displayLayer;
    std::shared_ptr<VideoSink> notchDisplayLayer;
    hollowkit::MainExecutor* main;

    // Delivering thread or the background preview's queue: reads the
    // island's flag now, shows the frame on the main executor.
    void schedule(const hollowkit::VideoFrame& frame) const {
        const bool islandPreviewActive = notchPreviewActive->value();
        main->post([islandPreviewActive, displayLayer = displayLayer, notchDisplayLayer = notchDisplayLayer,
                    frame] { displaySample(islandPreviewActive, *displayLayer, *notchDisplayLayer, frame); });
    }
};

}  // namespace

FramePath::FramePath(Parts parts, hollowkit::MainExecutor& main) : parts_(std::move(parts)), main_(main) {}

void FramePath::handleVideo(const hollowkit::VideoFrame& sample) const {
    // The same frame object goes everywhere: recorder, request, detector and screen.
    const hollowkit::VideoFrame frame = parts_.processor->process(sample);
    parts_.tap->appendVideo(frame);
    parts_.faceDetector->submit(frame);
    const DisplayStep display{parts_.notchPreviewActive, parts_.displayLayer, parts_.notchDisplayLayer, &main_};
    if (parts_.backgroundPreview->isActive()) {
        parts_.backgroundPreview->submit(
            frame, [display](const hollowkit::VideoFrame& treated) { display.schedule(treated); });
    } else {
        display.schedule(frame);
    }
}

void FramePath::handleAudio(const hollowkit::AudioChunk& chunk) const {
    parts_.tap->appendAudio(chunk);
}

}  // namespace lumenhollow
