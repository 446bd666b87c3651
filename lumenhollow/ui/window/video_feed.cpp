#include "lumenhollow/ui/window/video_feed.h"

#include <QMetaObject>
#include <QThread>

namespace lumenhollow {

FeedRelay::FeedRelay()
    : mailbox_([this] {
          // Queued to the relay's thread; dropped with the relay if it is gone by then.
          QMetaObject::invokeMethod(this, &FeedRelay::wakeUp, Qt::QueuedConnection);
      }) {}

void FeedRelay::wakeUp() {
    // Arrived before anyone takes: a frame pushed while the views take this
    // one posts again, and with no view connected (the main window closed)
    // the next frame still posts, for the window opened meanwhile.
    mailbox_.wakeUpDelivered();
    Q_EMIT frameReady();
}

VideoFeed::VideoFeed() : relay_(new FeedRelay) {}

VideoFeed::~VideoFeed() {
    // On the relay's own thread it goes at once: its waiting wake-ups go with
    // it, and after the event loop has ended a deferred delete would never
    // run. From another thread (a camera letting go of its sink) its loop
    // deletes it.
    if (relay_->thread() == QThread::currentThread()) {
        delete relay_;
    } else {
        relay_->deleteLater();
    }
}

void VideoFeed::flushRemovingImage() {
    mailbox().clear();
    Q_EMIT relay_->imageRemoved();
}

}  // namespace lumenhollow
