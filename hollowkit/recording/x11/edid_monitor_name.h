#pragma once

// The product name a monitor stores in its EDID (the display descriptor
// tagged 0xFC), as RandR passes the EDID on. Pure; any thread.

#include <optional>
#include <string>

#include "hollowkit/base/bytes.h"

namespace hollowkit {

// Nothing when the block is not an EDID base block, has no name, or the name
// is not printable ASCII.
std::optional<std::string> edidMonitorName(ByteView edid);

}  // namespace hollowkit
