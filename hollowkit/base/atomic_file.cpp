#include "hollowkit/base/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "hollowkit/base/new_file.h"
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

Result<void, std::error_code> writeFileAtomically(const HeldFolder& folder, const std::string& name,
                                                  std::string_view data, std::filesystem::perms permissions) {
    // Hidden, so a temporary left by a crash does not show among the user's
    // files; in the same folder, so the rename stays on one file system.
    // Held until the rename, so a clearing of a killed run's leftovers (by
    // another program sharing the folder) never takes it while it is written.
    std::string temporary;
    auto created = createHeldUniqueFile(folder, "." + name + ".", temporary);
    if (!created) return unexpected(created.error());
    UniqueFd fd = std::move(created).value();

    std::error_code error = writeAll(fd.get(), data);
    if (!error && ::fchmod(fd.get(), static_cast<mode_t>(permissions)) != 0) error = lastError();
    // Without the flush a crash soon after the rename can leave an empty
    // file under the name (delayed allocation).
    if (!error && ::fsync(fd.get()) != 0) error = lastError();
    if (!error && ::renameat(folder.fd(), temporary.c_str(), folder.fd(), name.c_str()) != 0) error = lastError();
    if (error) {
        ::unlinkat(folder.fd(), temporary.c_str(), 0);
        return unexpected(error);
    }
    // The data was flushed; the close lets the lock go.
    fd.reset();
    // Makes the rename itself durable.
    folder.sync();
    return {};
}

Result<void, std::error_code> writeFileAtomically(const std::filesystem::path& file, std::string_view data,
                                                  std::filesystem::perms permissions) {
    auto folder = HeldFolder::open(file.has_parent_path() ? file.parent_path() : std::filesystem::path("."));
    if (!folder) return unexpected(folder.error());
    return writeFileAtomically(*folder, file.filename().string(), data, permissions);
}

}  // namespace hollowkit
