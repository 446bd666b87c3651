#include "hollowkit/imaging/lut_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "hollowkit/base/unique_fd.h"

namespace hollowkit::lutfile {

namespace {

std::string_view lastComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Position of the extension's dot in `component`, or npos. A leading dot
// (a hidden file such as ".cube") starts the name, not an extension.
size_t extensionDot(std::string_view component) {
    const size_t dot = component.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? std::string_view::npos : dot;
}

}  // namespace

std::optional<Bytes> readWholeFile(const std::string& path, size_t maxBytes) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > maxBytes) return std::nullopt;

    Bytes bytes(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;  // shrank while we read: take what is there
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

std::string_view extension(std::string_view path) {
    const std::string_view component = lastComponent(path);
    const size_t dot = extensionDot(component);
    return dot == std::string_view::npos ? std::string_view() : component.substr(dot + 1);
}

std::string nameOf(std::string_view path) {
    const std::string_view component = lastComponent(path);
    return std::string(component.substr(0, extensionDot(component)));
}

}  // namespace hollowkit::lutfile
