#include "hollowkit/base/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace hollowkit {

bool openClosedStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // Inherited by what the program starts, as a standard stream is.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened < 0) return false;
        // Every lower number is open by now, so the new one is `fd` itself,
        // unless something opened a file beside this call.
        if (opened != fd) {
            const int moved = ::dup2(opened, fd);
            ::close(opened);
            if (moved != fd) return false;
        }
    }
    return true;
}

}  // namespace hollowkit
