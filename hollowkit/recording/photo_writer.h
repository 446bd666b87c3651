#pragma once

// PhotoWriter: turns one camera frame (already coloured by the selected
// look) into a full-size HEIF photo file, or into a small JPEG picture for
// the thumbnail of a saved camera position.
//
// The static calls work synchronously on the caller's thread. An instance
// owns the queue "HollowKit.PhotoWriter" and does the same work there, so
// the camera's delivery thread only hands over a frame reference; results
// come back on the main executor. Destroying an instance finishes the work
// already handed over (its results are still posted) before it returns;
// whoever must not wait without a bound asks waitUntilDone first.
//
// A photo's file appears only with its whole contents: it is written to a
// hidden, locked temporary beside its name, flushed, and renamed into a
// name nothing stands under yet. No empty or cut file is ever left under a
// photo's name, not even by a killed process; what a kill leaves is the
// hidden temporary, which MovieTemporaries::removeLeftovers clears at the
// next start.

#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/clock.h"
#include "hollowkit/base/executor.h"
#include "hollowkit/base/held_folder.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/result.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/media/video_frame.h"
#include "hollowkit/recording/photo_error.h"
#include "hollowkit/recording/still_encoder.h"

namespace hollowkit {

// Where a photo goes: its folder, and the calendar time its shutter was
// pressed, which names it as MediaLibrary names photos ("Lumenhollow Photo
// <date>.heic", then " 2", " 3" … when taken). With `held` (heldAt) the
// photo goes to the folder held at the press, wherever it is moved before
// the photo is written; without, to the folder `folder` names when it is.
// A held folder removed before the photo is written (deleted, or moved to
// another disk) no longer takes it: it goes to the folder `folder` names
// then, made again when it is not there, as a new press would make it.
struct PhotoPlace {
    PhotoPlace() = default;
    PhotoPlace(std::filesystem::path folderPath, WallTime pressDate, HeldFolder heldFolder = {})
        : folder(std::move(folderPath)), date(pressDate), held(std::move(heldFolder)) {}

    std::filesystem::path folder;
    WallTime date;
    HeldFolder held;

    // `folder` held now; when it cannot be, the write says why.
    static PhotoPlace heldAt(const std::filesystem::path& folder, WallTime date);
};

class PhotoWriter {
public:
    static constexpr int kPhotoQualityPercent = 90;
    static constexpr int kThumbnailQualityPercent = 75;
    static constexpr std::string_view kPhotoExtension = "heic";

    // The photo's file, or why there is none.
    using WriteCompletion = std::function<void(Result<std::filesystem::path, PhotoError>)>;
    using ThumbnailCompletion = std::function<void(std::optional<Bytes>)>;

    // `main` receives every completion; `encoder` must outlive the writer.
    explicit PhotoWriter(Executor& main, const StillEncoder& encoder = StillEncoder::standard());
    ~PhotoWriter();

    PhotoWriter(const PhotoWriter&) = delete;
    PhotoWriter& operator=(const PhotoWriter&) = delete;

    // Any thread; return at once. The same work as the static calls below,
    // done on the writer's queue; `completion` runs once on `main`.
    void write(VideoFrame frame, PhotoPlace place, WriteCompletion completion);
    void jpegThumbnail(VideoFrame frame, double largestWidth, ThumbnailCompletion completion);

    // Counts one more photo before it is handed over (one whose frame is
    // still to come), so unfinished() and waitUntilDone count it too;
    // withdraw() once it has been handed over (after write()) or given up.
    // Any thread.
    void expect();
    void withdraw();
    // How many photos and thumbnails handed over (or expected) are not done
    // yet, their completions aside. Any thread.
    size_t unfinished() const;
    // Blocks until every photo and thumbnail handed over is done, or for at
    // most `limit`; whether all are. Any thread but the writer's own.
    bool waitUntilDone(Duration limit) const;

    // Writes the frame, at its full size, as a HEIF photo (quality 90) into
    // `place`, under the first of its names that nothing stands under; a
    // file already there is never touched. Returns the photo's path as it is
    // once written, in the held folder wherever that was moved. A photo
    // that fails leaves nothing behind. A null frame gives noImage; an
    // encoder failure encodingFailed; a file that cannot be written
    // writeFailed, naming the folder when the photo could not be made or
    // written there (it had no name yet), or the name it could not take.
    // It never names a photo that was saved.
    static Result<std::filesystem::path, PhotoError> writeNow(const VideoFrame& frame, const PhotoPlace& place,
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
    void begin();
    void end();

    Executor& main_;
    const StillEncoder& encoder_;
    mutable Mutex mutex_;
    size_t unfinished_ HK_GUARDED_BY(mutex_) = 0;
    mutable std::condition_variable done_;
    SerialQueue queue_;  // last: its thread stops before the fields above go
};

}  // namespace hollowkit
