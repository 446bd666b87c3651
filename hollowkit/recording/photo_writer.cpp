#include "hollowkit/recording/photo_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>

#include "hollowkit/base/atomic_file.h"
#include "hollowkit/base/memory_settings.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/queue_labels.h"

namespace hollowkit {
namespace {

PhotoError writeError(int errnoValue, const std::filesystem::path& url) {
    return PhotoError::writeFailed(std::error_code(errnoValue, std::generic_category()), url);
}

// The name reserved for a photo that will never come is left as an empty
// file otherwise; one with contents is not ours to remove.
void removeEmptyReservation(const std::filesystem::path& url) {
    struct stat status {};
    if (::lstat(url.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size == 0) {
        ::unlink(url.c_str());
    }
}

// Puts `bytes` at `url`: the empty file reserved for it, or a new name. The
// photo goes to a temporary beside it, reaches the disk and is renamed into
// place, so a crash or a power cut leaves the whole photo or none, never a
// cut one. A file with contents belongs to someone else and is left alone.
Result<void, PhotoError> writeFile(const Bytes& bytes, const std::filesystem::path& url) {
    struct stat status {};
    if (::stat(url.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode) || status.st_size != 0) {
            return unexpected(writeError(S_ISREG(status.st_mode) ? EEXIST : EISDIR, url));
        }
    } else if (errno != ENOENT) {
        return unexpected(writeError(errno, url));
    }
    const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (auto written = writeFileAtomically(url, data); !written) {
        removeEmptyReservation(url);
        return unexpected(PhotoError::writeFailed(written.error(), url));
    }
    return {};
}

}  // namespace

PhotoWriter::PhotoWriter(Executor& main, const StillEncoder& encoder)
    : main_(main), encoder_(encoder), queue_(std::string(kPhotoWriterQueue.label)) {}

PhotoWriter::~PhotoWriter() {
    // Photos already handed over were promised to the user; let them finish.
    queue_.sync([] {});
}

void PhotoWriter::write(VideoFrame frame, std::filesystem::path url, WriteCompletion completion) {
    queue_.post(
        [this, frame = std::move(frame), url = std::move(url), completion = std::move(completion)]() mutable {
            Result<void, PhotoError> result = writeNow(frame, url, encoder_);
            main_.post([completion = std::move(completion), result = std::move(result)]() mutable {
                if (completion) completion(std::move(result));
            });
        });
}

void PhotoWriter::jpegThumbnail(VideoFrame frame, double largestWidth, ThumbnailCompletion completion) {
    queue_.post([this, frame = std::move(frame), largestWidth, completion = std::move(completion)]() mutable {
        std::optional<Bytes> result = jpegThumbnailNow(frame, largestWidth, encoder_);
        main_.post([completion = std::move(completion), result = std::move(result)]() mutable {
            if (completion) completion(std::move(result));
        });
    });
}

Result<void, PhotoError> PhotoWriter::writeNow(const VideoFrame& frame, const std::filesystem::path& url,
                                               const StillEncoder& encoder) {
    if (frame.isNull()) {
        removeEmptyReservation(url);
        return unexpected(PhotoError::noImage());
    }
    Result<Bytes, std::string> heif = encoder.encodeHeif(frame, kPhotoQualityPercent);
    // The encoder's worker threads free tens of megabytes when a photo is
    // done; without this the allocator kept it in their heaps, and a program
    // grew by megabytes with every photo.
    returnFreedMemory();
    if (!heif) {
        PocketLog::logf("Photo %dx%d could not be encoded: %s", frame.width(), frame.height(),
                        heif.error().c_str());
        removeEmptyReservation(url);
        return unexpected(PhotoError::encodingFailed());
    }
    return writeFile(heif.value(), url);
}

std::optional<PhotoWriter::Size> PhotoWriter::thumbnailSize(int width, int height, double largestWidth) {
    // The negated test also turns NaN away.
    if (width <= 0 || height <= 0 || !(largestWidth >= 1.0)) {
        return std::nullopt;
    }
    const double scale = std::min(largestWidth / width, 1.0);
    // Halves round away from zero; a sliver of a picture keeps one row.
    const int scaledWidth = std::max(1, static_cast<int>(std::lround(width * scale)));
    const int scaledHeight = std::max(1, static_cast<int>(std::lround(height * scale)));
    return Size{std::min(scaledWidth, width), std::min(scaledHeight, height)};
}

std::optional<Bytes> PhotoWriter::jpegThumbnailNow(const VideoFrame& frame, double largestWidth,
                                                   const StillEncoder& encoder) {
    if (frame.isNull()) {
        return std::nullopt;
    }
    const std::optional<Size> size = thumbnailSize(frame.width(), frame.height(), largestWidth);
    if (!size) {
        return std::nullopt;
    }
    Result<Bytes, std::string> jpeg =
        encoder.encodeJpeg(frame, size->width, size->height, kThumbnailQualityPercent);
    if (!jpeg) {
        PocketLog::logf("Thumbnail %dx%d could not be encoded: %s", size->width, size->height,
                        jpeg.error().c_str());
        return std::nullopt;
    }
    return std::move(jpeg).value();
}

}  // namespace hollowkit
