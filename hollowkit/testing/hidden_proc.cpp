#include "hollowkit/testing/hidden_proc.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>

namespace hollowkit::testsupport {

bool hideOwnDescriptorsInProc() {
    if (::unshare(CLONE_NEWNS) != 0) return false;
    // Nothing mounted here reaches the rest of the machine.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    const std::string descriptors = "/proc/" + std::to_string(::getpid()) + "/fd";
    if (::mount("none", descriptors.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "size=4k") != 0) {
        return false;
    }
    // A descriptor open now is not to be seen there.
    const int open = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (open < 0) return false;
    const bool hidden = ::access(("/proc/self/fd/" + std::to_string(open)).c_str(), F_OK) != 0;
    ::close(open);
    return hidden;
}

}  // namespace hollowkit::testsupport
