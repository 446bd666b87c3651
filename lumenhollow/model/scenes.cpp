// CameraModel: the saved camera positions: saving, recalling, updating,
// renaming, reordering and deleting them, and their thumbnails. Every change
// of the list is published and then stored whole.

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

#include "hollowkit/base/utf8.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/scene_store.h"

namespace lumenhollow {

namespace {

// The key that recalls a scene, before its digit; the notices name it.
constexpr std::string_view kRecallKey = "Alt+";

std::vector<CameraScene>::const_iterator findScene(const std::vector<CameraScene>& scenes, const std::string& id) {
    return std::find_if(scenes.begin(), scenes.end(), [&](const CameraScene& scene) { return scene.id == id; });
}

}  // namespace

bool CameraModel::publishScenes(std::vector<CameraScene> scenes) {
    publish<Field::scenes>(std::move(scenes));
    // What the last launch could not read whole is about to be overwritten:
    // only once a whole copy of it is kept, so nothing the user saved is
    // lost for good.
    if (!readyToOverwrite(settings_key::scenes, "Scenes", scenesReadInPart_)) return false;
    // A write that is not saved is told by settings_; a list that never
    // reached it is told here.
    const SettingsSaveResult saved = saveScenes(settings_, state_.scenes);
    if (saved.failure == kUnencodableScenes) tellNotSaved("Scenes", *saved.failure);
    return saved.saved();
}

void CameraModel::saveCurrentPositionAsScene() {
    if (!camera_->supportsPositioning()) {
        postNotice("Scenes need the USB connection");
        return;
    }
    if (state_.scenes.size() >= kMaxScenes) {
        postNotice("All " + std::to_string(kMaxScenes) + " scene slots are used");
        return;
    }
    const std::optional<hk::CameraPosition> position = camera_->currentPosition();
    if (!position) {
        postNotice("The camera did not report its position");
        return;
    }

    CameraScene scene;
    scene.id = makeSceneId(services_.random);
    scene.name = "Scene " + std::to_string(state_.scenes.size() + 1);
    scene.position = *position;
    const std::string id = scene.id;
    const std::string name = scene.name;

    std::vector<CameraScene> scenes = state_.scenes;
    scenes.push_back(std::move(scene));
    const uint64_t serial = noticeSerial_;
    const bool saved = publishScenes(std::move(scenes));
    captureSceneThumbnail(id);
    // The user was just told why it could not be saved.
    if (noticeSerial_ != serial) return;
    // Never "saved" when it was not: told once already, the scene still
    // lasts only until the program quits.
    postNotice(name + (saved ? " saved (" : " kept until Lumenhollow quits (") + std::string(kRecallKey) +
               std::to_string(state_.scenes.size()) + ")");
}

void CameraModel::recallScene(int index) {
    if (index < 0 || static_cast<size_t>(index) >= state_.scenes.size() || !camera_->supportsPositioning()) return;
    // Copied: observers told below may change the list.
    const CameraScene scene = state_.scenes[static_cast<size_t>(index)];
    if (state_.faceTracking) faceFollower_->pause(kSceneRecallPauseSeconds);
    camera_->move(scene.position);
    if (scene.position.zoom) publish<Field::zoom>(*scene.position.zoom);
    postNotice(scene.name);
}

void CameraModel::updateScene(const CameraScene& scene) {
    // Copied: `scene` may be an element of the list about to change.
    const std::string id = scene.id;
    const std::string name = scene.name;
    const auto found = findScene(state_.scenes, id);
    if (found == state_.scenes.end()) return;
    const size_t index = static_cast<size_t>(found - state_.scenes.begin());
    const std::optional<hk::CameraPosition> position = camera_->currentPosition();
    if (!position) {
        // A replace that silently did nothing would look like it worked.
        if (camera_->supportsPositioning()) postNotice("The camera did not report its position");
        return;
    }

    std::vector<CameraScene> scenes = state_.scenes;
    scenes[index].position = *position;
    const uint64_t serial = noticeSerial_;
    const bool saved = publishScenes(std::move(scenes));
    captureSceneThumbnail(id);
    // The user was just told why it could not be saved.
    if (noticeSerial_ != serial) return;
    // Never a plain "updated" when it was not saved, as a new scene is told.
    postNotice(name + " updated to the current position" + (saved ? "" : ", kept until Lumenhollow quits"));
}

void CameraModel::renameScene(const std::string& id, const std::string& name) {
    const std::string_view trimmed = hollowkit::trimWhitespace(name);
    const auto found = findScene(state_.scenes, id);
    // The same name again (a field left without a change) is no change:
    // nothing is published and the settings file is not rewritten.
    if (found == state_.scenes.end() || trimmed.empty() || found->name == trimmed) return;
    std::vector<CameraScene> scenes = state_.scenes;
    scenes[static_cast<size_t>(found - state_.scenes.begin())].name = std::string(trimmed);
    publishScenes(std::move(scenes));
}

void CameraModel::moveScenes(const std::set<int>& sources, int destination) {
    const int count = static_cast<int>(state_.scenes.size());
    std::vector<CameraScene> moved;
    std::vector<CameraScene> kept;
    int movedBeforeDestination = 0;
    for (int index = 0; index < count; ++index) {
        if (sources.contains(index)) {
            moved.push_back(state_.scenes[static_cast<size_t>(index)]);
            if (index < destination) ++movedBeforeDestination;
        } else {
            kept.push_back(state_.scenes[static_cast<size_t>(index)]);
        }
    }
    if (moved.empty()) return;
    // The destination counts positions in the list before the move.
    const int insertAt = std::clamp(destination, 0, count) - movedBeforeDestination;
    kept.insert(kept.begin() + insertAt, std::make_move_iterator(moved.begin()), std::make_move_iterator(moved.end()));
    publishScenes(std::move(kept));
}

void CameraModel::deleteScene(const std::string& sceneId) {
    // Copied: `sceneId` may be an element of the list about to change.
    const std::string id = sceneId;
    std::vector<CameraScene> scenes = state_.scenes;
    std::erase_if(scenes, [&](const CameraScene& scene) { return scene.id == id; });
    publishScenes(std::move(scenes));
    // Its picture would have nowhere to go; a quit does not wait for it.
    if (dropWaitingThumbnail(id)) photoWorkEnded();
}

void CameraModel::captureSceneThumbnail(const std::string& id) {
    // The delivering thread only hands the frame (a reference) back to the
    // main executor; encoding happens on the writer's queue, so neither the
    // camera's thread nor the main executor waits for it. Counted until it
    // is in its scene: a quit waits for it with the photos. It waits for a
    // frame as long as it takes; a newer request for the same scene replaces
    // it (one frame would answer both), and only a quit gives it up.
    dropWaitingThumbnail(id);
    ++photos_.thumbnails;
    auto claimed = std::make_shared<std::atomic<bool>>(false);
    photos_.waitingThumbnails[id] = WaitingThumbnail{claimed, main_.clock().now(), 0};
    // Asked for during a quit (a save still on its way): bounded at once.
    if (isTerminating()) boundFrameWaits();
    tap_->addFrameRequest([weak = weak_from_this(), main = &main_, id, claimed](const hk::VideoFrame& frame) {
        if (claimed->exchange(true)) return;  // replaced or given up already
        main->post([weak, id, claimed, frame] {
            if (auto self = weak.lock()) self->sceneThumbnailFrameArrived(id, claimed, frame);
        });
    });
}

void CameraModel::sceneThumbnailFrameArrived(const std::string& id, const std::shared_ptr<std::atomic<bool>>& claimed,
                                             hk::VideoFrame frame) {
    // No longer waiting; a newer request for the scene, made since, still is.
    if (const auto waiting = photos_.waitingThumbnails.find(id);
        waiting != photos_.waitingThumbnails.end() && waiting->second.claimed == claimed) {
        main_.cancel(waiting->second.giveUp);
        photos_.waitingThumbnails.erase(waiting);
    }
    encodeSceneThumbnail(id, std::move(frame));
}

bool CameraModel::dropWaitingThumbnail(const std::string& id) {
    const auto waiting = photos_.waitingThumbnails.find(id);
    if (waiting == photos_.waitingThumbnails.end()) return false;
    // A frame that took it first is on its way to its scene and ends there.
    const bool dropped = !waiting->second.claimed->exchange(true);
    main_.cancel(waiting->second.giveUp);
    photos_.waitingThumbnails.erase(waiting);
    if (dropped) --photos_.thumbnails;
    return dropped;
}

void CameraModel::encodeSceneThumbnail(const std::string& id, hk::VideoFrame frame) {
    if (findScene(state_.scenes, id) == state_.scenes.end()) {
        --photos_.thumbnails;
        photoWorkEnded();
        return;
    }
    photoWriter()->jpegThumbnail(std::move(frame), kSceneThumbnailWidth,
                                    [weak = weak_from_this(), id](std::optional<hk::Bytes> jpeg) {
                                        if (auto self = weak.lock()) self->applySceneThumbnail(id, std::move(jpeg));
                                    });
}

void CameraModel::applySceneThumbnail(const std::string& id, std::optional<hk::Bytes> jpeg) {
    const auto found = findScene(state_.scenes, id);
    // A scene deleted meanwhile is not made again.
    if (found != state_.scenes.end()) {
        std::vector<CameraScene> scenes = state_.scenes;
        scenes[static_cast<size_t>(found - state_.scenes.begin())].thumbnail = std::move(jpeg);
        publishScenes(std::move(scenes));
    }
    --photos_.thumbnails;
    photoWorkEnded();
}

}  // namespace lumenhollow
