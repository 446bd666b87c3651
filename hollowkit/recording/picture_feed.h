#pragma once

// PictureFeed: the pictures one movie shows at each frame time of a movie
// being composed (frame i at i / frameRate seconds), decoded a few frames
// ahead on the feed's own thread ("HollowKit.ComposeRead") so that decoding
// overlaps composing and encoding.
//
// Owns its MovieReader and thread; one consumer calls next() once per frame,
// in order. The feed ends after the last frame or at the first frame whose
// picture could not be decoded. Destroying it stops the thread after the
// picture in progress.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "hollowkit/base/bounded_queue.h"
#include "hollowkit/recording/movie_reader.h"

namespace hollowkit {

class PictureFeed {
public:
    // What the movie shows at one frame time.
    struct Item {
        // None before the movie's first picture, after its last, and when
        // decoding failed.
        std::optional<DecodedPicture> picture;
        // Why decoding failed (the reader's errorText); empty otherwise. No
        // item follows one with an error.
        std::string error;
    };

    // Starts decoding at once. `depth` is how many frames may wait decoded.
    PictureFeed(std::unique_ptr<MovieReader> reader, int64_t frames, int frameRate, size_t depth);
    ~PictureFeed();
    PictureFeed(const PictureFeed&) = delete;
    PictureFeed& operator=(const PictureFeed&) = delete;

    // The consumer's thread. The next frame's item, waiting for its decoding;
    // an empty item once the feed has ended.
    Item next();

private:
    void run();

    const std::unique_ptr<MovieReader> reader_;  // the feed's thread only
    const int64_t frames_;
    const int frameRate_;
    BoundedQueue<Item> items_;
    std::jthread thread_;  // last: starts once everything above is ready
};

}  // namespace hollowkit
