#include "lumenhollow/ui/window/video_feed.h"

#include <QMetaObject>

namespace lumenhollow {

VideoFeed::VideoFeed()
    : relay_(new FeedRelay),
      mailbox_([relay = relay_] {
          // Queued to the relay's thread; dropped with the relay if it is gone by then.
          QMetaObject::invokeMethod(relay, &FeedRelay::frameReady, Qt::QueuedConnection);
      }) {}

VideoFeed::~VideoFeed() {
    relay_->deleteLater();
}

void VideoFeed::flushRemovingImage() {
    mailbox_.clear();
    Q_EMIT relay_->imageRemoved();
}

}  // namespace lumenhollow
