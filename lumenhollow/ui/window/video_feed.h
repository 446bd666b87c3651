#pragma once

// VideoFeed: the main window's VideoSink. The model hands it every shown
// frame; it lives as long as the model (the window may be closed and opened
// again) and feeds whichever VideoSurface is attached through its mailbox.
// The relay is a QObject on the GUI thread that holds the mailbox and that
// its one waiting wake-up is posted to; the wake-up counts as arrived there
// whether or not a view is connected to take the frame, so a window made
// later is woken by the next frame.
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

public:
    FeedRelay();

    // The mailbox goes with the relay: a wake-up queued to the relay never
    // reaches a mailbox that is gone.
    FrameMailbox& mailbox() { return mailbox_; }

Q_SIGNALS:
    // A frame may wait in the mailbox (a view connected takes it).
    void frameReady();
    // The camera was replaced: the picture shown goes.
    void imageRemoved();

private:
    // The posted wake-up, on the relay's thread.
    void wakeUp();

    FrameMailbox mailbox_;
};

class VideoFeed final : public VideoSink {
public:
    // GUI thread.
    VideoFeed();
    ~VideoFeed() override;
    VideoFeed(const VideoFeed&) = delete;
    VideoFeed& operator=(const VideoFeed&) = delete;

    void enqueue(const hollowkit::VideoFrame& frame) override { mailbox().push(frame); }
    // Painting cannot fail the way a display layer's renderer can.
    bool hasFailed() const override { return false; }
    void flush() override { mailbox().clear(); }
    void flushRemovingImage() override;
    bool takesFramesOffMain() const override { return true; }
    void deliver(const hollowkit::VideoFrame& frame, uint64_t generation) override {
        mailbox().push(frame, generation);
    }
    void dropClearedGenerations(uint64_t generation) override { mailbox().dropGenerationsBefore(generation); }

    FrameMailbox& mailbox() { return relay_->mailbox(); }
    FeedRelay& relay() { return *relay_; }

private:
    // Deleted later on the GUI thread, whichever thread lets the feed go.
    FeedRelay* const relay_;
};

}  // namespace lumenhollow
