// CameraModel: importing and removing the user's own looks, and the guides.

#include <algorithm>
#include <utility>

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/scene_store.h"

namespace lumenhollow {

namespace {

bool holds(const std::vector<hk::ColorLUT>& looks, const std::string& id) {
    return std::any_of(looks.begin(), looks.end(), [&](const hk::ColorLUT& look) { return look.id == id; });
}

}  // namespace

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

void CameraModel::importChosenLUTs(const std::vector<std::filesystem::path>& files) {
    std::vector<hk::ColorLUT> added;
    for (const std::filesystem::path& file : files) {
        auto look = hk::ColorLUT::load(file.string());
        if (!look) {
            // A later failure replaces the notice of an earlier one.
            publish<Field::notice>(file.filename().string() + ": " + look.error().userMessage());
            continue;
        }
        if (holds(state_.customLUTs, look->id) || holds(added, look->id)) continue;
        added.push_back(std::move(look).value());
    }
    if (added.empty()) return;

    std::vector<hk::ColorLUT> looks = state_.customLUTs;
    looks.insert(looks.end(), added.begin(), added.end());
    publish<Field::customLUTs>(std::move(looks));
    saveCustomLUTPaths(services_.settings, state_.customLUTs);
    setSelectedLUT(std::move(added.back()));
}

void CameraModel::removeImportedLUT(const hk::ColorLUT& look) {
    // Copied: `look` may be an element of the list about to change.
    const std::string id = look.id;
    std::vector<hk::ColorLUT> looks = state_.customLUTs;
    std::erase_if(looks, [&](const hk::ColorLUT& each) { return each.id == id; });
    publish<Field::customLUTs>(std::move(looks));
    saveCustomLUTPaths(services_.settings, state_.customLUTs);
    if (state_.selectedLUT && state_.selectedLUT->id == id) setSelectedLUT(std::nullopt);
}

void CameraModel::toggleGuide(GuideKind kind) {
    std::set<GuideKind> guides = state_.guides;
    if (!guides.erase(kind)) guides.insert(kind);
    setGuides(std::move(guides));
}

}  // namespace lumenhollow
