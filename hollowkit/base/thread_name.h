#pragma once

// Naming and prioritising the library's threads. Each call acts on the
// calling thread only.

#include <string>
#include <string_view>

#include "hollowkit/base/queue_labels.h"

namespace hollowkit {

// The OS name for a thread labelled `label`. Linux keeps 15 bytes, so the
// library prefix "HollowKit." becomes "HK." and the rest is cut to fit; logs
// keep the full label.
std::string osThreadName(std::string_view label);

// Names the calling thread after `label` (shortened as above).
void setCurrentThreadName(std::string_view label);

// Lowers the calling thread's priority as `qos` asks (niceIncrement); the
// urgent classes leave it as it is. Best effort: a refusal changes nothing.
void applyQualityOfService(QualityOfService qos);

}  // namespace hollowkit
