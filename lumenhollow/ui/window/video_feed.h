#pragma once

// VideoFeed: the main window's VideoSink. The model hands it every shown
// frame; it lives as long as the model (the window may be closed and opened
// again) and feeds whichever VideoSurface is attached through its mailbox.
// The relay is a QObject on the GUI thread that the mailbox's one waiting
// wake-up is posted to.
//
// It takes frames on the delivering thread (deliver()), where the mailbox
// converts and scales them, so the GUI thread only paints. The sink's other
// calls: main executor (the GUI thread).

#include <QObject>
#include <QPointer>

#include <memory>

#include "lumenhollow/model/video_sink.h"
#include "lumenhollow/ui/window/frame_mailbox.h"

namespace lumenhollow {

class FeedRelay final : public QObject {
    Q_OBJECT

Q_SIGNALS:
    // A frame waits in the mailbox.
    void frameReady();
    // The camera was replaced: the picture shown goes.
    void imageRemoved();
};

class VideoFeed final : public VideoSink {
public:
    // GUI thread.
    VideoFeed();
    ~VideoFeed() override;
    VideoFeed(const VideoFeed&) = delete;
    VideoFeed& operator=(const VideoFeed&) = delete;

    void enqueue(const hollowkit::VideoFrame& frame) override { mailbox_.push(frame); }
    // Painting cannot fail the way a display layer's renderer can.
    bool hasFailed() const override { return false; }
    void flush() override { mailbox_.clear(); }
    void flushRemovingImage() override;
    bool takesFramesOffMain() const override { return true; }
    void deliver(const hollowkit::VideoFrame& frame, uint64_t generation) override {
        mailbox_.push(frame, generation);
    }
    void dropClearedGenerations(uint64_t generation) override { mailbox_.dropGenerationsBefore(generation); }

    FrameMailbox& mailbox() { return mailbox_; }
    FeedRelay& relay() { return *relay_; }

private:
    // Deleted later on the GUI thread, whichever thread lets the feed go.
    FeedRelay* const relay_;
    FrameMailbox mailbox_;
};

}  // namespace lumenhollow
