#pragma once

// PhotoWriter: turns one camera frame (already coloured by the selected
// look) into a full-size HEIF photo file, or into a small JPEG picture for
// the thumbnail of a saved camera position.
//
// The static calls work synchronously on the caller's thread. An instance
// owns the queue "HollowKit.PhotoWriter" and does the same work there, so
// the camera's delivery thread only hands over a frame reference; results
// come back on the main executor. Destroying an instance finishes the work
// already handed over (its results are still posted) before it returns.

#include <filesystem>
#include <functional>
#include <optional>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/executor.h"
#include "hollowkit/base/result.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/media/video_frame.h"
#include "hollowkit/recording/photo_error.h"
#include "hollowkit/recording/still_encoder.h"

namespace hollowkit {

class PhotoWriter {
public:
    static constexpr int kPhotoQualityPercent = 90;
    static constexpr int kThumbnailQualityPercent = 75;

    using WriteCompletion = std::function<void(Result<void, PhotoError>)>;
    using ThumbnailCompletion = std::function<void(std::optional<Bytes>)>;

    // `main` receives every completion; `encoder` must outlive the writer.
    explicit PhotoWriter(Executor& main, const StillEncoder& encoder = StillEncoder::standard());
    ~PhotoWriter();

    PhotoWriter(const PhotoWriter&) = delete;
    PhotoWriter& operator=(const PhotoWriter&) = delete;

    // Any thread; return at once. The same work as the static calls below,
    // done on the writer's queue; `completion` runs once on `main`.
    void write(VideoFrame frame, std::filesystem::path url, WriteCompletion completion);
    void jpegThumbnail(VideoFrame frame, double largestWidth, ThumbnailCompletion completion);

    // Writes the frame, at its full size, as a HEIF photo at `url` (quality
    // 90). `url` is normally the empty file MediaLibrary reserved; a file
    // that already has contents is never replaced (the error then reads
    // "File exists (…)"). A photo that fails leaves no file behind, not even
    // the empty reservation, and a crash mid-way never a cut photo (it is
    // written beside the name, flushed and renamed into place). A null frame
    // gives noImage; an encoder failure encodingFailed; a file that cannot be
    // written writeFailed.
    static Result<void, PhotoError> writeNow(const VideoFrame& frame, const std::filesystem::path& url,
                                             const StillEncoder& encoder = StillEncoder::standard());

    // The frame scaled down to at most `largestWidth` pixels wide (never
    // enlarged; height in proportion, rounded, at least 1) as JPEG data at
    // quality 75. Nothing for a null frame, a width below one pixel, or an
    // encoder failure.
    static std::optional<Bytes> jpegThumbnailNow(const VideoFrame& frame, double largestWidth,
                                                 const StillEncoder& encoder = StillEncoder::standard());

    // The thumbnail's size for a picture of `width` × `height`; nothing when
    // either is not positive or `largestWidth` is below one (or not a number).
    struct Size {
        int width = 0;
        int height = 0;
        bool operator==(const Size&) const = default;
    };
    static std::optional<Size> thumbnailSize(int width, int height, double largestWidth);

private:
    Executor& main_;
    const StillEncoder& encoder_;
    SerialQueue queue_;  // last: its thread stops before the fields above go
};

}  // namespace hollowkit
