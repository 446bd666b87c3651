#include "lumenhollow/platform/linux/getrandom_secure_random.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/unique_fd.h"

namespace lumenhollow {
namespace {

// Fills `out` from /dev/urandom; false when it cannot.
bool readUrandom(uint8_t* out, size_t count) {
    hollowkit::UniqueFd fd(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
    if (!fd) return false;
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd.get(), out + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

hollowkit::Bytes GetrandomSecureRandom::bytes(size_t count) {
    hollowkit::Bytes out(count);
    size_t done = 0;
    while (done < count) {
        // Requests above 256 bytes may return short or be interrupted.
        const ssize_t n = ::getrandom(out.data() + done, count - done, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        const int error = errno;
        if (readUrandom(out.data() + done, count - done)) break;
        hollowkit::PocketLog::logf("No secure random bytes from the system (%s)", std::strerror(error));
        std::abort();
    }
    return out;
}

}  // namespace lumenhollow
