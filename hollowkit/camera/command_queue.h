#pragma once

// CommandQueue: hands camera commands from the main thread to the Wi-Fi
// camera's worker. One thread appends; the worker takes the whole pending
// list at once and sends it after releasing the lock. Thread-safe; the lock
// is held only for the list operation, never while sending.

#include <vector>

#include "hollowkit/base/mutex.h"
#include "hollowkit/camera/camera_command.h"

namespace hollowkit {

class CommandQueue {
public:
    CommandQueue() = default;
    CommandQueue(const CommandQueue&) = delete;
    CommandQueue& operator=(const CommandQueue&) = delete;

    // Appends at the end of the pending list. Any thread (the main thread).
    void append(CameraCommand command);

    // Every pending command in append order; the list is left empty.
    // Commands appended after this returns wait for the next call.
    std::vector<CameraCommand> takeAll();

private:
    Mutex lock_;
    std::vector<CameraCommand> pending_ HK_GUARDED_BY(lock_);
};

}  // namespace hollowkit
