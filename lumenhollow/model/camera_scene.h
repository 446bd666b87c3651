#pragma once

// CameraScene: a saved camera position with a name and, when a frame was
// caught when it was saved, a small picture of it. Plain value, any thread.

#include <optional>
#include <string>

#include "hollowkit/base/bytes.h"
#include "hollowkit/camera/camera_types.h"

namespace lumenhollow {

struct CameraScene {
    std::string id;  // a UUID in its text form
    std::string name;
    hollowkit::CameraPosition position;
    std::optional<hollowkit::Bytes> thumbnail;  // JPEG

    bool operator==(const CameraScene&) const = default;
};

}  // namespace lumenhollow
