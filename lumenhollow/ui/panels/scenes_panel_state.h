#pragma once

// What the scenes panel and its rows show, without widgets: the count, the
// body, whether saving is possible, the list's height and the position
// line. Plain functions, any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "hollowkit/camera/camera_types.h"

namespace lumenhollow {

inline constexpr int kSceneRowHeight = 66;
inline constexpr int kScenesListMaxHeight = 420;

enum class ScenesBody : uint8_t {
    none = 0,
    needsPositioning,  // the note: no gimbal angles over this route
    empty,             // the invitation to save a first scene
    list,
};

ScenesBody scenesBody(bool supportsPositioning, size_t sceneCount);
// Saving needs positioning and a free slot of the nine.
bool canSaveScene(bool supportsPositioning, size_t sceneCount);
// "0 of 9", "3 of 9".
std::string scenesCountText(size_t sceneCount);
// 66 per row and 8 more, at most 420 (the list scrolls from seven rows on).
// Where the screen leaves the list less `room` than that (what the panel's
// other rows leave of the tallest popover the screen holds), the room, so
// the save button and every row stay reachable: the list scrolls. Never
// below one row's height.
int scenesListHeight(size_t sceneCount, std::optional<int> room = std::nullopt);
// "pan -12°  ·  tilt 5°  ·  1.5x"; no zoom part without a zoom; never "-0".
std::string scenePositionSummary(const hollowkit::CameraPosition& position);

}  // namespace lumenhollow
