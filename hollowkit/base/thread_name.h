#pragma once

#include <string>
#include <string_view>

namespace hollowkit {

// The OS name for a thread labelled `label`. Linux keeps 15 bytes, so the
// library prefix "HollowKit." becomes "HK." and the rest is cut to fit; logs
// keep the full label.
std::string osThreadName(std::string_view label);

// Names the calling thread after `label` (shortened as above).
void setCurrentThreadName(std::string_view label);

}  // namespace hollowkit
