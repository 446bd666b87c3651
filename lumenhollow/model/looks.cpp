// CameraModel: reading, importing and removing the user's own looks, and the guides.

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/utf8.h"
#include "hollowkit/imaging/lut_library.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/look_list.h"
#include "lumenhollow/model/scene_store.h"
#include "lumenhollow/model/stored_settings.h"

namespace lumenhollow {

void CameraModel::importLUT() {
    if (!services_.filePicker) return;
    FileChoiceRequest request;
    request.title = "Import a LUT";
    request.multipleSelection = true;
    request.types = {{"LUT files", {"cube"}}, {"PNG images", {"png"}}};
    services_.filePicker->chooseFiles(
        std::move(request), [weak = weak_from_this()](std::optional<std::vector<std::filesystem::path>> files) {
            auto self = weak.lock();
            if (self && files) self->importChosenLUTs(*files);
        });
}

void CameraModel::startLoadingLooks(const SettingsStore& settings) {
    auto* queue = services_.imaging.lookQueue;
    looks_.loader = queue ? std::make_unique<LookLoader>(LookListLimits{}, *queue) : std::make_unique<LookLoader>();
    looks_.loader->setOnArrival([weak = weak_from_this(), main = &main_](LookLoader::Arrival arrival) {
        // Shared: a look is not copied with the task.
        main->post([weak, arrival = std::make_shared<LookLoader::Arrival>(std::move(arrival))] {
            if (auto self = weak.lock()) self->lookArrived(std::move(*arrival));
        });
    });

    StoredLookPaths paths = storedLookPaths(settings);
    looks_.storedReadInPart = paths.readInPart;
    looks_.storedReport = {.stored = paths.stored, .tried = paths.tried.size()};
    looks_.storedAwaiting.assign(paths.tried.begin(), paths.tried.end());
    std::optional<std::string> selected = settings.get<std::string>(settings_key::selectedLUT);
    if (selected && hk::LUTLibrary::builtInLook(*selected)) selected.reset();
    // The stored choice's table is prepared with it, so selecting it costs
    // the main executor nothing.
    looks_.storedBatch = looks_.loader->load(std::move(paths.tried), [selected](const hk::ColorLUT& look) {
        return selected && look.id == *selected;
    });
    // A look that is not read (a file on a drive not mounted yet) leaves the
    // stored choice alone for the next launch: reading never writes.
    if (looks_.storedBatch != 0) looks_.restoredId = std::move(selected);
}

void CameraModel::importChosenLUTs(const std::vector<std::filesystem::path>& files) {
    std::vector<std::string> paths;
    paths.reserve(files.size());
    for (const std::filesystem::path& file : files) paths.push_back(file.string());
    // Files naming a look already imported are dropped without a notice; the
    // list keeps the earlier look and its place. The last new look is
    // selected at the end, so every one comes with its table prepared.
    looks_.loader->load(std::move(paths), [](const hk::ColorLUT&) { return true; });
}

void CameraModel::lookArrived(LookLoader::Arrival arrival) {
    const bool stored = arrival.batch == looks_.storedBatch;
    if (stored && !looks_.storedAwaiting.empty()) looks_.storedAwaiting.pop_front();
    if (arrival.attempt.look) {
        // Moved out and back: the list's looks are not copied.
        std::vector<hk::ColorLUT> list = std::move(state_.customLUTs);
        list.push_back(*arrival.attempt.look);
        publish<Field::customLUTs>(std::move(list));
        const std::string& id = arrival.attempt.look->id;
        if (!stored) {
            looks_.importedLast = id;
            looks_.importedLastPrepared = std::move(arrival.prepared);
        } else if (looks_.restoredId == id) {
            // Restored, not chosen: nothing is written.
            looks_.restoredId.reset();
            publish<Field::selectedLUT>(std::move(*arrival.attempt.look));
            processor_->setLUT(state_.selectedLUT, std::move(arrival.prepared));
        }
    } else if (arrival.attempt.failure && stored) {
        // Often a drive not mounted yet: the path is kept in the copy.
        looks_.storedReport.add(*arrival.attempt.failure);
        looks_.storedReadInPart = true;
    } else if (arrival.attempt.failure) {
        // Each failure is noticed in turn: a later one replaces an earlier one.
        // The name is shown escaped, so a NUL or a line break in it shows as such.
        const LookLoadFailure& failure = *arrival.attempt.failure;
        const std::string name = std::filesystem::path(failure.path).filename().string();
        postNotice(hk::escapeForLog(name) + ": " + failure.message);
    }
    if (!arrival.lastOfBatch) return;

    if (stored) {
        if (const auto line = looks_.storedReport.logLine()) hk::PocketLog::log(*line);
        looks_.storedBatch = 0;
        looks_.storedAwaiting.clear();
        looks_.restoredId.reset();
        return;
    }
    const std::optional<std::string> last = std::exchange(looks_.importedLast, std::nullopt);
    std::shared_ptr<const hk::LutEngine> prepared = std::exchange(looks_.importedLastPrepared, nullptr);
    if (!last) return;
    storeLookPaths();
    // Unless it was removed while the rest was read.
    for (const hk::ColorLUT& look : state_.customLUTs) {
        if (look.id == *last) {
            selectLUT(look, std::move(prepared));
            break;
        }
    }
}

void CameraModel::storeLookPaths() {
    if (!readyToOverwrite(settings_key::customLUTPaths, "Looks", looks_.storedReadInPart)) return;
    // Stored looks still being read stay stored. A write that is not saved
    // is told by settings_.
    (void)saveCustomLUTPaths(settings_, state_.customLUTs,
                             std::vector<std::string>(looks_.storedAwaiting.begin(), looks_.storedAwaiting.end()));
}

void CameraModel::selectLUT(std::optional<hk::ColorLUT> look, std::shared_ptr<const hk::LutEngine> prepared) {
    // A choice replaces a stored one still waiting for its look.
    looks_.restoredId.reset();
    publish<Field::selectedLUT>(std::move(look));
    // The next frame is already drawn with the look, even when storing it fails.
    processor_->setLUT(state_.selectedLUT, std::move(prepared));
    storeSetting(Field::selectedLUT);
}

void CameraModel::removeImportedLUT(const hk::ColorLUT& look) {
    // Copied: `look` may be an element of the list about to change.
    const std::string id = look.id;
    std::vector<hk::ColorLUT> looks = std::move(state_.customLUTs);
    std::erase_if(looks, [&](const hk::ColorLUT& each) { return each.id == id; });
    publish<Field::customLUTs>(std::move(looks));
    looks_.loader->release(id);
    storeLookPaths();
    if (state_.selectedLUT && state_.selectedLUT->id == id) setSelectedLUT(std::nullopt);
}

void CameraModel::toggleGuide(GuideKind kind) {
    std::set<GuideKind> guides = state_.guides;
    if (!guides.erase(kind)) guides.insert(kind);
    setGuides(std::move(guides));
}

}  // namespace lumenhollow
