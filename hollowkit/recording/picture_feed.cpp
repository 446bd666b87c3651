#include "hollowkit/recording/picture_feed.h"

#include <utility>

#include "hollowkit/base/thread_name.h"

namespace hollowkit {

namespace {

constexpr const char* kThreadLabel = "HollowKit.ComposeRead";

}  // namespace

PictureFeed::PictureFeed(std::unique_ptr<MovieReader> reader, int64_t frames, int frameRate, size_t depth)
    : reader_(std::move(reader)), frames_(frames), frameRate_(frameRate), items_(depth), thread_([this] { run(); }) {}

PictureFeed::~PictureFeed() {
    // A decoder waiting to hand over a picture gives up; the thread then ends.
    items_.close();
}

PictureFeed::Item PictureFeed::next() {
    std::optional<Item> item = items_.pop();
    return item ? std::move(*item) : Item{};
}

void PictureFeed::run() {
    setCurrentThreadName(kThreadLabel);
    for (int64_t i = 0; i < frames_; ++i) {
        // The same time as the frame it is drawn into, computed the same way.
        const double t = static_cast<double>(i) / frameRate_;
        Item item;
        if (const DecodedPicture* picture = reader_->frameAt(t)) {
            // A copy shares the decoded planes; the reader moves on.
            item.picture = *picture;
        } else {
            item.error = reader_->errorText();
        }
        const bool failed = !item.error.empty();
        if (!items_.push(std::move(item)) || failed) break;
    }
    items_.close();
}

}  // namespace hollowkit
