// CameraModel: photos. The next frame, with the look, is saved as a HEIF
// photo in the output folder. The camera's delivery thread only hands the
// frame to the photo writer's queue, which encodes it. A request waits for
// its frame as long as it takes (a camera that stops and comes back answers
// it); a newer press replaces the one still waiting, and only a quit gives
// it up, kPhotoFrameWait after the press, with a notice. A photo is named
// by the moment its shutter was pressed, and its file appears only once the
// photo is whole (the writer renames it into place), so nothing stands
// under its name while it waits. At most kMaxPendingPhotos wait at once:
// each holds its frame until it is written.

#include <algorithm>
#include <string>
#include <utility>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/recording/media_library.h"
#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

namespace {

constexpr const char* kPhotoSaved = "Photo saved";
constexpr const char* kPhotoFailedPrefix = "Photo failed: ";
constexpr const char* kNoPictureArrived = "no picture arrived";

std::string stillBeingSaved() {
    return std::to_string(CameraModel::kMaxPendingPhotos) + " photos are still being saved";
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
    // The photo still waiting for its frame makes room for this one.
    const auto waiting = photos_.pending.find(photos_.waitingPhoto);
    const bool replacing = waiting != photos_.pending.end() && !waiting->second.claimed->load();
    const auto refuse = [this] {
        // Said in the log once for a run of refused presses (a held key).
        if (!std::exchange(photos_.refusing, true)) {
            hollowkit::PocketLog::log("Photos not taken while " + std::to_string(kMaxPendingPhotos) +
                                      " are still being saved");
        }
        postNotice(kPhotoFailedPrefix + stillBeingSaved());
    };
    if (photos_.pending.size() - (replacing ? 1 : 0) >= kMaxPendingPhotos) {
        refuse();
        return;
    }
    if (auto folder = hollowkit::MediaLibrary::ensureFolder(outputFolder_); !folder) {
        postNotice(folder.error().notice());
        return;
    }
    dropWaitingPhoto();
    // Its frame took the waiting photo after all, just now.
    if (photos_.pending.size() >= kMaxPendingPhotos) {
        refuse();
        return;
    }
    photos_.refusing = false;
    // The folder is held from the press: the photo goes there even if it is
    // moved before the frame is written.
    const hollowkit::PhotoPlace place = hollowkit::PhotoPlace::heldAt(outputFolder_, main_.clock().wallNow());
    const uint64_t id = ++photos_.lastId;
    auto claimed = std::make_shared<std::atomic<bool>>(false);
    photos_.pending.emplace(id, PendingPhoto{claimed, main_.clock().now(), 0});
    photos_.waitingPhoto = id;
    // Counted by the writer from now on, so a wait for its work counts the
    // photo before its frame comes.
    const std::shared_ptr<hollowkit::PhotoWriter>& writer = photoWriter();
    writer->expect();

    // Runs on the delivering thread: it only hands the frame on.
    tap_->addFrameRequest([claimed, writer, place, weak = weak_from_this(), id](const hollowkit::VideoFrame& frame) {
        if (claimed->exchange(true)) return;  // replaced or given up already
        writer->write(frame, place,
                      [weak, id](const hollowkit::Result<std::filesystem::path, hollowkit::PhotoError>& result) {
                          if (auto self = weak.lock()) self->finishPhoto(id, result);
                      });
        writer->withdraw();
    });
}

void CameraModel::dropWaitingPhoto() {
    const auto waiting = photos_.pending.find(std::exchange(photos_.waitingPhoto, 0));
    // A frame that took it first is being written; its result comes.
    if (waiting == photos_.pending.end() || waiting->second.claimed->exchange(true)) return;
    main_.cancel(waiting->second.giveUp);
    photos_.pending.erase(waiting);
    photos_.writer->withdraw();
}

void CameraModel::finishPhoto(uint64_t id,
                              const hollowkit::Result<std::filesystem::path, hollowkit::PhotoError>& result) {
    if (auto pending = photos_.pending.find(id); pending != photos_.pending.end()) {
        main_.cancel(pending->second.giveUp);
        photos_.pending.erase(pending);
    }
    if (result) {
        hollowkit::PocketLog::log("Photo saved: " + result->filename().string());
        postNotice(kPhotoSaved);
    } else {
        hollowkit::PocketLog::log(kPhotoFailedPrefix + result.error().userMessage());
        postNotice(kPhotoFailedPrefix + result.error().userMessage());
    }
    photoWorkEnded();
}

void CameraModel::giveUpPhoto(uint64_t id) {
    const auto pending = photos_.pending.find(id);
    if (pending == photos_.pending.end()) return;
    pending->second.giveUp = 0;
    // A frame that took the request first is being written; its result comes.
    if (pending->second.claimed->exchange(true)) return;
    photos_.pending.erase(pending);
    if (photos_.waitingPhoto == id) photos_.waitingPhoto = 0;
    photos_.writer->withdraw();
    postNotice(std::string(kPhotoFailedPrefix) + kNoPictureArrived);
    photoWorkEnded();
}

void CameraModel::boundFrameWaits() {
    // Counted from each request, so one that has waited long already (the
    // camera gives no picture) holds the quit no longer.
    const hollowkit::TimePoint now = main_.clock().now();
    const auto left = [now](hollowkit::TimePoint askedAt) {
        return std::max(hollowkit::Duration::zero(), askedAt + kPhotoFrameWait - now);
    };
    for (auto& [id, pending] : photos_.pending) {
        if (pending.claimed->load() || pending.giveUp != 0) continue;
        pending.giveUp = main_.after(left(pending.askedAt), [weak = weak_from_this(), id = id] {
            if (auto self = weak.lock()) self->giveUpPhoto(id);
        });
    }
    for (auto& [id, waiting] : photos_.waitingThumbnails) {
        if (waiting.giveUp != 0) continue;
        waiting.giveUp = main_.after(left(waiting.askedAt), [weak = weak_from_this(), id = id] {
            auto self = weak.lock();
            if (!self) return;
            // The scene keeps no picture of a later moment.
            if (self->dropWaitingThumbnail(id)) self->photoWorkEnded();
        });
    }
}

void CameraModel::photoWorkEnded() {
    refreshQuitProgress();
    if (unfinishedPhotos() > 0) return;
    for (auto& waiter : std::exchange(photos_.doneWaiters, {})) waiter();
}

}  // namespace lumenhollow
