#pragma once

// LoopExecutor: the main executor of a headless run (tools, benchmarks, the
// library demonstration): a SerialQueue standing in for the main thread.

#include "hollowkit/base/serial_queue.h"

namespace hollowkit {

class LoopExecutor final : public SerialQueue {
public:
    explicit LoopExecutor(const Clock& clock = Clock::system()) : SerialQueue("Lumenhollow.Main", clock) {}
};

}  // namespace hollowkit
