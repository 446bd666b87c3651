#include "lumenhollow/ui/panels/scenes_panel_state.h"

#include <algorithm>
#include <cmath>
#include <charconv>

#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

namespace {

// Fixed decimals whatever the process's locale: the separator is always a point.
std::string scenesFixed(double value, int decimals) {
    char text[48];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
    return std::string(text, end);
}

// Whole degrees, without the "-0" that small negatives round to.
std::string scenesWholeDegrees(double degrees) {
    double rounded = std::nearbyint(degrees);
    if (rounded == 0) rounded = 0;  // -0 becomes 0
    return scenesFixed(rounded, 0);
}

}  // namespace

ScenesBody scenesBody(bool supportsPositioning, size_t sceneCount) {
    if (!supportsPositioning) return ScenesBody::needsPositioning;
    return sceneCount == 0 ? ScenesBody::empty : ScenesBody::list;
}

bool canSaveScene(bool supportsPositioning, size_t sceneCount) {
    return supportsPositioning && sceneCount < CameraModel::kMaxScenes;
}

std::string scenesCountText(size_t sceneCount) {
    return std::to_string(sceneCount) + " of " + std::to_string(CameraModel::kMaxScenes);
}

int scenesListHeight(size_t sceneCount, std::optional<int> room) {
    const int fixed = std::min(kScenesListMaxHeight, kSceneRowHeight * static_cast<int>(sceneCount) + 8);
    if (!room) return fixed;
    return std::min(fixed, std::max(*room, std::min(fixed, kSceneRowHeight + 8)));
}

std::string scenePositionSummary(const hollowkit::CameraPosition& position) {
    const std::string separator = "  \u00B7  ";
    std::string text = "pan " + scenesWholeDegrees(position.pan) + "\u00B0" + separator + "tilt " +
                       scenesWholeDegrees(position.tilt) + "\u00B0";
    if (position.zoom) {
        text += separator + scenesFixed(*position.zoom / 100.0, 1) + "x";
    }
    return text;
}

}  // namespace lumenhollow
