#include "lumenhollow/ui/window/video_feed.h"

#include <QMetaObject>
#include <QThread>

namespace lumenhollow {

VideoFeed::VideoFeed()
    : relay_(new FeedRelay),
      mailbox_([relay = relay_] {
          // Queued to the relay's thread; dropped with the relay if it is gone by then.
          QMetaObject::invokeMethod(relay, &FeedRelay::frameReady, Qt::QueuedConnection);
      }) {}

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
    mailbox_.clear();
    Q_EMIT relay_->imageRemoved();
}

}  // namespace lumenhollow
