#include "hollowkit/camera/command_queue.h"

namespace hollowkit {

void CommandQueue::append(CameraCommand command) {
    MutexLock guard(lock_);
    pending_.push_back(std::move(command));
}

std::vector<CameraCommand> CommandQueue::takeAll() {
    std::vector<CameraCommand> taken;
    MutexLock guard(lock_);
    taken.swap(pending_);
    return taken;
}

}  // namespace hollowkit
