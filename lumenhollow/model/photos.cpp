// CameraModel: photos. The next frame, with the look, is saved as a HEIF
// photo in the output folder. The camera's delivery thread only hands the
// frame to the photo writer's queue, which encodes it; a request that no
// frame answers in time is given up with a notice instead of waiting for
// whatever picture comes minutes later.

#include <system_error>

#include "hollowkit/recording/media_library.h"
#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

namespace {

constexpr const char* kPhotoSaved = "Photo saved";
constexpr const char* kPhotoFailedPrefix = "Photo failed: ";
constexpr const char* kNoPictureArrived = "no picture arrived";

// The reserved name of a photo never written: the empty file goes.
void removeReservation(const std::filesystem::path& file) {
    std::error_code error;
    if (std::filesystem::file_size(file, error) == 0 && !error) std::filesystem::remove(file, error);
}

}  // namespace

const std::shared_ptr<hollowkit::PhotoWriter>& CameraModel::photoWriter() {
    // One writer serves photos and scene thumbnails, made at the first use.
    if (!photos_.writer) {
        photos_.writer = std::make_shared<hollowkit::PhotoWriter>(
            main_, services_.stillEncoder ? *services_.stillEncoder : hollowkit::StillEncoder::standard());
    }
    return photos_.writer;
}

void CameraModel::takePhoto() {
    // While quitting no frame will answer the request before the end.
    if (isTerminating() || !state_.stats || !state_.stats->hasPicture) return;
    auto file = hollowkit::MediaLibrary::fileURL(outputFolder_, hollowkit::MediaLibrary::kPhotoKind, "heic",
                                                 main_.clock().wallNow());
    if (!file) {
        postNotice(file.error().notice());
        return;
    }
    const uint64_t id = ++photos_.lastId;
    auto claimed = std::make_shared<std::atomic<bool>>(false);
    const hollowkit::TaskId giveUp = main_.after(kPhotoFrameWait, [weak = weak_from_this(), id] {
        if (auto self = weak.lock()) self->giveUpPhoto(id);
    });
    photos_.pending.emplace(id, PendingPhoto{claimed, *file, giveUp});

    // Runs on the delivering thread: it only hands the frame on.
    tap_->addFrameRequest([claimed, writer = photoWriter(), file = *file, weak = weak_from_this(),
                           id](const hollowkit::VideoFrame& frame) {
        if (claimed->exchange(true)) return;  // given up already
        writer->write(frame, file, [weak, id](const hollowkit::Result<void, hollowkit::PhotoError>& result) {
            if (auto self = weak.lock()) self->finishPhoto(id, result);
        });
    });
}

void CameraModel::finishPhoto(uint64_t id, const hollowkit::Result<void, hollowkit::PhotoError>& result) {
    if (auto pending = photos_.pending.find(id); pending != photos_.pending.end()) {
        main_.cancel(pending->second.giveUp);
        photos_.pending.erase(pending);
    }
    postNotice(result ? std::string(kPhotoSaved)
                                  : kPhotoFailedPrefix + result.error().userMessage());
}

void CameraModel::giveUpPhoto(uint64_t id) {
    const auto pending = photos_.pending.find(id);
    if (pending == photos_.pending.end()) return;
    pending->second.giveUp = 0;
    // A frame that took the request first is being written; its result comes.
    if (pending->second.claimed->exchange(true)) return;
    removeReservation(pending->second.file);
    photos_.pending.erase(pending);
    postNotice(std::string(kPhotoFailedPrefix) + kNoPictureArrived);
}

void CameraModel::giveUpPendingPhotos() {
    std::vector<uint64_t> ids;
    for (const auto& [id, pending] : photos_.pending) {
        if (!pending.claimed->load()) ids.push_back(id);
    }
    for (uint64_t id : ids) {
        main_.cancel(photos_.pending.at(id).giveUp);
        giveUpPhoto(id);
    }
}

}  // namespace lumenhollow
