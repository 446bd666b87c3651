#include "hollowkit/recording/photo_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>

#include "hollowkit/base/memory_settings.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/queue_labels.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/recording/media_library.h"
#include "hollowkit/recording/movie_temporaries.h"

namespace hollowkit {
namespace {

namespace fs = std::filesystem;

// An ordinary document's mode, not the temporary's private one.
constexpr mode_t kPhotoMode = 0644;

PhotoError writeError(int errnoValue, const fs::path& path) {
    return PhotoError::writeFailed(std::error_code(errnoValue, std::generic_category()), path);
}

// Removes the temporary when the photo fails.
struct TemporaryRemover {
    const HeldFolder& folder;
    std::string name;
    ~TemporaryRemover() {
        if (!name.empty()) ::unlinkat(folder.fd(), name.c_str(), 0);
    }
};

int writeBytes(int fd, const Bytes& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        written += static_cast<size_t>(n);
    }
    return 0;
}

// Puts the photo's bytes into `folder`: a hidden temporary beside its name,
// locked while it is written so no start-up takes it for a killed run's,
// reaches the disk whole and is then renamed into a name nothing stands
// under yet; the folder is synced so the name stays after a power cut.
// All of it in the one folder, held, so a folder moved or replaced
// meanwhile gets the whole photo and keeps no temporary.
//
// A failure names what failed: the folder when the photo could not be made
// or written in it (it has no name yet, and the names it would take may be
// earlier photos), the name it could not take when the rename failed.
Result<fs::path, PhotoError> placePhotoIn(const Bytes& bytes, const PhotoPlace& place, const HeldFolder& folder) {
    const std::string first =
        MediaLibrary::fileName(MediaLibrary::kPhotoKind, place.date) + "." + std::string(PhotoWriter::kPhotoExtension);
    TemporaryRemover temporary{folder, {}};
    Result<UniqueFd, int> file = MovieTemporaries::createUnique(FileInFolder{folder, first}, temporary.name);
    if (!file) return unexpected(writeError(file.error(), place.folder));
    int error = writeBytes(file->get(), bytes);
    if (error == 0 && ::fchmod(file->get(), kPhotoMode) != 0) error = errno;
    // Without the flush a crash soon after the rename could leave an empty
    // file under the name (delayed allocation).
    if (error == 0 && ::fsync(file->get()) != 0) error = errno;
    if (error != 0) return unexpected(writeError(error, place.folder));
    Result<fs::path, MediaLibraryError> placed = MediaLibrary::moveIntoPlace(
        folder, temporary.name, MediaLibrary::kPhotoKind, PhotoWriter::kPhotoExtension, place.date);
    if (!placed) return unexpected(PhotoError::writeFailed(placed.error().code, placed.error().path));
    temporary.name.clear();
    folder.sync();
    // Told where it is now, not where the folder was at the press.
    return folder.currentPath() / placed->filename();
}

// The output folder as its path names it now, made again when it is not
// there, as a press would make it.
Result<HeldFolder, PhotoError> folderAsItIsNow(const fs::path& folder) {
    if (auto made = MediaLibrary::ensureFolder(folder); !made) {
        return unexpected(PhotoError::writeFailed(made.error().code, made.error().path));
    }
    auto opened = HeldFolder::open(folder);
    if (!opened) return unexpected(writeError(opened.error().value(), folder));
    return std::move(opened).value();
}

// The photo goes to the folder held at its press, wherever that went. A
// held folder that was removed meanwhile (deleted, or moved to another
// disk, which copies it and deletes it) takes nothing any more: the photo,
// still in memory, goes to the folder its path names now instead, also
// when the folder goes while the photo is written there.
// Without a held folder, the photo goes to the folder its path names when
// it is written.
Result<fs::path, PhotoError> placePhoto(const Bytes& bytes, const PhotoPlace& place) {
    if (!place.held.valid()) {
        auto opened = HeldFolder::open(place.folder);
        if (!opened) return unexpected(writeError(opened.error().value(), place.folder));
        return placePhotoIn(bytes, place, *opened);
    }
    if (!place.held.removed()) {
        Result<fs::path, PhotoError> placed = placePhotoIn(bytes, place, place.held);
        if (placed || !place.held.removed()) return placed;
    }
    PocketLog::logf("The folder of a photo waiting to be written was removed; it goes to %s as it is now",
                    place.folder.c_str());
    Result<HeldFolder, PhotoError> folder = folderAsItIsNow(place.folder);
    if (!folder) return unexpected(folder.error());
    return placePhotoIn(bytes, place, *folder);
}

}  // namespace

PhotoPlace PhotoPlace::heldAt(const std::filesystem::path& folder, WallTime date) {
    auto held = HeldFolder::open(folder);
    return PhotoPlace{folder, date, held ? std::move(held).value() : HeldFolder::failed(folder, held.error())};
}

PhotoWriter::PhotoWriter(Executor& main, const StillEncoder& encoder)
    : main_(main), encoder_(encoder), queue_(std::string(kPhotoWriterQueue.label)) {}

PhotoWriter::~PhotoWriter() {
    // Photos already handed over were promised to the user; let them finish.
    queue_.sync([] {});
}

void PhotoWriter::begin() {
    MutexLock lock(mutex_);
    ++unfinished_;
}

void PhotoWriter::end() {
    MutexLock lock(mutex_);
    if (--unfinished_ == 0) done_.notify_all();
}

void PhotoWriter::expect() {
    begin();
}

void PhotoWriter::withdraw() {
    end();
}

size_t PhotoWriter::unfinished() const {
    MutexLock lock(mutex_);
    return unfinished_;
}

bool PhotoWriter::waitUntilDone(Duration limit) const {
    MutexLock lock(mutex_);
    return lock.waitFor(done_, limit, [this]() HK_REQUIRES(mutex_) { return unfinished_ == 0; });
}

void PhotoWriter::write(VideoFrame frame, PhotoPlace place, WriteCompletion completion) {
    begin();
    queue_.post(
        [this, frame = std::move(frame), place = std::move(place), completion = std::move(completion)]() mutable {
            Result<fs::path, PhotoError> result = writeNow(frame, place, encoder_);
            // The picture goes as soon as it is written, and its folder is
            // let go before the result is told.
            frame = VideoFrame();
            place = PhotoPlace();
            main_.post([completion = std::move(completion), result = std::move(result)]() mutable {
                if (completion) completion(std::move(result));
            });
            end();
        });
}

void PhotoWriter::jpegThumbnail(VideoFrame frame, double largestWidth, ThumbnailCompletion completion) {
    begin();
    queue_.post([this, frame = std::move(frame), largestWidth, completion = std::move(completion)]() mutable {
        std::optional<Bytes> result = jpegThumbnailNow(frame, largestWidth, encoder_);
        frame = VideoFrame();
        main_.post([completion = std::move(completion), result = std::move(result)]() mutable {
            if (completion) completion(std::move(result));
        });
        end();
    });
}

Result<fs::path, PhotoError> PhotoWriter::writeNow(const VideoFrame& frame, const PhotoPlace& place,
                                                   const StillEncoder& encoder) {
    if (frame.isNull()) {
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
        return unexpected(PhotoError::encodingFailed());
    }
    return placePhoto(heif.value(), place);
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
