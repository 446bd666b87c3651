#pragma once

// MovieReader: the pictures of a movie's first video track in time order,
// decoded with libavformat/libavcodec. Edit lists are honoured: a movie
// whose track starts with an empty stretch (the camera half of a take that
// began after the session start) shows its first frame only at that time,
// as it plays. Access is sequential: frameAt() is asked for times that never
// go back, and decodes forward as far as each time needs.
//
// One owner, one thread at a time. Opening fails with a text that says why;
// damaged data inside the movie ends its pictures early instead (errorText()).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "hollowkit/base/result.h"
#include "hollowkit/media/video_frame.h"
#include "hollowkit/recording/bubble_compositor.h"

namespace hollowkit {

// One decoded picture as Y'CbCr 4:2:0 planes (BT.709, limited range),
// shown from `time` until `endTime`, seconds on the movie's time line.
struct DecodedPicture {
    double time = 0;
    double endTime = 0;
    Yuv420View planes;

    // The picture as NV12 sharing the luma plane (the chroma is
    // interleaved into new memory). `pts` is the frame's stamp.
    VideoFrame toNv12(TimePoint pts = {}) const;
    // The planes' owner, kept alive by toNv12's frames.
    std::shared_ptr<const void> owner;
};

class MovieReader {
public:
    // Opens `file` and, when it has one, the decoder of its first video
    // track. A movie without pictures opens (hasVideo() is false); a file
    // that is missing, empty or not a movie does not.
    static Result<std::unique_ptr<MovieReader>, std::string> open(const std::filesystem::path& file);

    ~MovieReader();
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;

    // The movie's length in seconds (its longest track as it plays); 0 when
    // the file does not say.
    double duration() const;
    bool hasVideo() const;
    // The video track's picture size; 0 without one.
    int width() const;
    int height() const;

    // The picture on screen at `seconds`: the last one starting at or before
    // it, while it lasts. Null before the first picture, after the last
    // one's end, and once decoding has failed. The picture stays valid until
    // the next call.
    const DecodedPicture* frameAt(double seconds);

    // Why pictures ended early; empty while nothing went wrong.
    const std::string& errorText() const;

private:
    struct Impl;
    explicit MovieReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace hollowkit
