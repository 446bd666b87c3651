#include "hollowkit/base/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "hollowkit/base/unique_fd.h"

namespace hollowkit {
namespace {

std::error_code lastError() {
    return std::error_code(errno, std::generic_category());
}

}  // namespace

std::error_code writeAll(int fd, std::string_view data) {
    size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return lastError();
        }
        written += static_cast<size_t>(n);
    }
    return {};
}

Result<void, std::error_code> writeFileAtomically(const std::filesystem::path& file, std::string_view data,
                                                  std::filesystem::perms permissions) {
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    // Hidden, so a temporary left by a crash does not show among the user's
    // files; in the same folder, so the rename stays on one file system.
    std::string temporary = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd) return unexpected(lastError());

    std::error_code error = writeAll(fd.get(), data);
    if (!error && ::fchmod(fd.get(), static_cast<mode_t>(permissions)) != 0) error = lastError();
    // Without the flush a crash soon after the rename can leave an empty
    // file under the name (delayed allocation).
    if (!error && ::fsync(fd.get()) != 0) error = lastError();
    if (!error && ::close(fd.release()) != 0) error = lastError();
    if (!error && ::rename(temporary.c_str(), file.c_str()) != 0) error = lastError();
    if (error) {
        ::unlink(temporary.c_str());
        return unexpected(error);
    }
    // Makes the rename itself durable. The new file is in place already, so
    // a failure here is not reported.
    if (UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); directory) {
        ::fsync(directory.get());
    }
    return {};
}

}  // namespace hollowkit
