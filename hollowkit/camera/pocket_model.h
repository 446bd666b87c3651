#pragma once

// PocketModel: which Osmo Pocket is attached, read from its Bluetooth device
// name, and the zoom range that model offers. Pure values, any thread.

#include <cstdint>
#include <optional>
#include <string_view>

#include "hollowkit/camera/camera_types.h"

namespace hollowkit {

enum class PocketModel : uint8_t { pocket3, pocket4, pocket4Pro };

// The model a device name names, ignoring spaces and case ("Osmo Pocket 4 Pro",
// "OSMO POCKET 3"); nothing for a name without a known model.
std::optional<PocketModel> pocketModelFromName(std::string_view name);

// 100...300 for the Pocket 4 Pro, 100...400 for the others.
ZoomRange zoomRange(PocketModel model);

}  // namespace hollowkit
