#pragma once

// The camera model's own records of work under way: a resolution waiting to
// settle, a route switch, a photo, the looks being read, a camera setting
// waiting for its answer and a drag's offset. Plain values kept by
// CameraModel on the main executor; nothing else uses them.

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "hollowkit/base/executor.h"
#include "hollowkit/camera/camera_setting.h"
#include "hollowkit/imaging/lut_engine.h"
#include "lumenhollow/model/look_loader.h"
#include "lumenhollow/model/published_state.h"
#include "lumenhollow/model/scene_store.h"

namespace lumenhollow {

struct PendingResolution {
    hollowkit::TaskId task = 0;
    PictureSize size;
};

struct PendingSwitch {
    uint64_t id = 0;
    ConnectionMode mode = ConnectionMode::wireless;
    hollowkit::TaskId watchdog = 0;
};

// A photo waiting for its frame or being written.
struct PendingPhoto {
    std::shared_ptr<std::atomic<bool>> claimed;  // by the frame, or by the give-up
    std::filesystem::path file;
    hollowkit::TaskId giveUp = 0;
};

struct LookReading {
    std::unique_ptr<LookLoader> loader;
    uint64_t storedBatch = 0;                // the stored looks, while they are read
    std::deque<std::string> storedAwaiting;  // their paths not delivered yet
    StoredLooksReport storedReport;
    // The stored paths did not read whole (another shape, past the number
    // tried, a look that failed); a copy is kept before the first save.
    bool storedReadInPart = false;
    std::optional<std::string> restoredId;   // the stored choice, waiting for its look
    std::optional<std::string> importedLast;  // the newest look of the import being read
    std::shared_ptr<const hollowkit::LutEngine> importedLastPrepared;
};

struct SentSetting {
    std::string label;  // the camera's answer names it
    hk::CameraSetting setting;
    CameraSettingsState before;
    CameraSettingsState after;
};

struct DragOffset {
    double dx = 0;
    double dy = 0;
    double width = 0;
};

}  // namespace lumenhollow
