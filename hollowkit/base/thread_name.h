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

// The first call of every library thread, a SerialQueue's or one started by
// hand: names the calling thread after `label` and applies the class listed
// for the label (qualityOfServiceFor). Once per thread: the class lowers the
// priority relative to the thread's current one.
void enterLibraryThread(std::string_view label);

}  // namespace hollowkit
