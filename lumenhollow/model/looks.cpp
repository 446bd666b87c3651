// CameraModel: importing and removing the user's own looks, and the guides.

#include <algorithm>
#include <utility>

#include "hollowkit/base/utf8.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/look_list.h"
#include "lumenhollow/model/scene_store.h"

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

void CameraModel::importChosenLUTs(const std::vector<std::filesystem::path>& files) {
    std::vector<std::string> paths;
    paths.reserve(files.size());
    for (const std::filesystem::path& file : files) paths.push_back(file.string());
    // Files naming a look already imported are dropped without a notice;
    // the list keeps the earlier look and its place.
    LookLoadOutcome outcome = loadLooks(paths, state_.customLUTs);
    // Each failure is noticed in turn: a later one replaces an earlier one.
    // The name is shown escaped, so a NUL or a line break in it shows as such.
    for (const LookLoadFailure& failure : outcome.failures) {
        const std::string name = std::filesystem::path(failure.path).filename().string();
        postNotice(hk::escapeForLog(name) + ": " + failure.message);
    }
    if (outcome.added.empty()) return;

    std::vector<hk::ColorLUT> looks = state_.customLUTs;
    looks.insert(looks.end(), outcome.added.begin(), outcome.added.end());
    publish<Field::customLUTs>(std::move(looks));
    saveCustomLUTPaths(services_.settings, state_.customLUTs);
    setSelectedLUT(std::move(outcome.added.back()));
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
