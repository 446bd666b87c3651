#include "hollowkit/base/bounded_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace hollowkit {

namespace {

std::string printablePath(const std::string& raw) {
    std::string shown;
    shown.reserve(raw.size());
    for (char c : raw) {
        if (c == '\0') {
            shown += "\\0";
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace

std::string FileReadError::reason() const {
    switch (kind) {
        case Kind::invalidPath:
            return file.empty() ? std::string("has an empty path") : std::string("has a NUL character in its path");
        case Kind::cannotOpen:
            return std::string("could not be opened: ") + std::strerror(errorNumber);
        case Kind::notRegularFile:
            return "is not a regular file";
        case Kind::tooLarge:
            return tooLargeReason(sizeBytes, limitBytes);
        case Kind::readFailed:
            return std::string("could not be read: ") + std::strerror(errorNumber);
        case Kind::none:
            break;
    }
    return {};
}

std::string FileReadError::userMessage() const {
    if (kind == Kind::none) return {};
    const std::string name = printablePath(file);
    return (name.empty() ? std::string("The file") : name) + " " + reason();
}

std::string byteSizeText(uint64_t bytes) {
    char text[48];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
        return text;
    }
    const bool megabytes = bytes >= (uint64_t{1} << 20);
    const uint64_t unit = megabytes ? uint64_t{1} << 20 : 1024;
    const uint64_t whole = bytes / unit;
    // Three significant figures, cut rather than rounded, so a size is never
    // shown larger than it is.
    int decimals = whole >= 100 ? 0 : whole >= 10 ? 1 : 2;
    uint64_t fraction = (bytes % unit) * (decimals == 2 ? 100 : 10) / unit;
    while (decimals > 0 && fraction % 10 == 0) {
        fraction /= 10;
        --decimals;
    }
    if (decimals == 0) {
        std::snprintf(text, sizeof text, "%llu %s", static_cast<unsigned long long>(whole), megabytes ? "MB" : "KB");
    } else {
        std::snprintf(text, sizeof text, "%llu.%0*llu %s", static_cast<unsigned long long>(whole), decimals,
                      static_cast<unsigned long long>(fraction), megabytes ? "MB" : "KB");
    }
    return text;
}

std::pair<std::string, std::string> byteSizeTexts(uint64_t first, uint64_t second) {
    std::pair<std::string, std::string> texts{byteSizeText(first), byteSizeText(second)};
    if (first != second && texts.first == texts.second) {
        texts = {std::to_string(first) + " bytes", std::to_string(second) + " bytes"};
    }
    return texts;
}

std::string tooLargeReason(uint64_t sizeBytes, uint64_t limitBytes) {
    const auto [size, limit] = byteSizeTexts(sizeBytes, limitBytes);
    return "is too large (" + size + "; at most " + limit + " is read)";
}

BoundedFile::BoundedFile(UniqueFd fd, std::string file, uint64_t statedSizeBytes, uint64_t limitBytes)
    : fd_(std::move(fd)), file_(std::move(file)), statedSizeBytes_(statedSizeBytes), limitBytes_(limitBytes) {}

FileReadError BoundedFile::error(FileReadError::Kind kind, int errorNumber) const {
    return {.kind = kind, .file = file_, .errorNumber = errorNumber, .sizeBytes = readBytes_, .limitBytes = limitBytes_};
}

Result<BoundedFile, FileReadError> BoundedFile::open(const std::filesystem::path& path, uint64_t limitBytes) {
    const std::string& raw = path.native();
    FileReadError failure{.file = raw, .limitBytes = limitBytes};
    if (raw.empty() || raw.find('\0') != std::string::npos) {
        failure.kind = FileReadError::Kind::invalidPath;
        return unexpected(failure);
    }
    // O_NONBLOCK: opening a FIFO with no writer would otherwise wait for
    // one; the type check below then refuses it. O_NOCTTY: a terminal
    // device must not become the process's controlling terminal.
    UniqueFd fd(::open(raw.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        failure.kind = FileReadError::Kind::cannotOpen;
        failure.errorNumber = errno;
        return unexpected(failure);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        failure.kind = FileReadError::Kind::readFailed;
        failure.errorNumber = errno;
        return unexpected(failure);
    }
    if (!S_ISREG(info.st_mode)) {
        failure.kind = FileReadError::Kind::notRegularFile;
        return unexpected(failure);
    }
    const auto stated = static_cast<uint64_t>(info.st_size < 0 ? 0 : info.st_size);
    if (stated > limitBytes) {
        failure.kind = FileReadError::Kind::tooLarge;
        failure.sizeBytes = stated;
        return unexpected(failure);
    }
    return BoundedFile(std::move(fd), raw, stated, limitBytes);
}

Result<size_t, FileReadError> BoundedFile::read(std::span<uint8_t> buffer) {
    if (buffer.empty()) return size_t{0};
    // One byte past the limit is asked for, so a file that grew is noticed
    // without reading more of it.
    const uint64_t left = limitBytes_ - readBytes_;
    const size_t want = left < buffer.size() ? static_cast<size_t>(left) + 1 : buffer.size();
    for (;;) {
        const ssize_t n = ::read(fd_.get(), buffer.data(), want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return unexpected(error(FileReadError::Kind::readFailed, errno));
        readBytes_ += static_cast<uint64_t>(n);
        if (readBytes_ > limitBytes_) return unexpected(error(FileReadError::Kind::tooLarge));
        return static_cast<size_t>(n);
    }
}

namespace {

template <typename Container>
Result<Container, FileReadError> readWhole(const std::filesystem::path& path, uint64_t limitBytes) {
    auto file = BoundedFile::open(path, limitBytes);
    if (!file) return unexpected(file.error());
    Container data;
    // The buffer never holds more than one byte past the limit, which is as
    // far as a read goes before the file is refused. Worked out so the
    // largest limit cannot wrap round to nothing, and no larger than a
    // container can be.
    const uint64_t most = std::min<uint64_t>(limitBytes, data.max_size() - 1) + 1;
    // The stated size is only a hint (it was checked against the limit);
    // the loop reads until the end whatever it turns out to be.
    data.resize(static_cast<size_t>(std::min<uint64_t>(file->statedSizeBytes() + 1, most)));
    size_t done = 0;
    for (;;) {
        if (done == data.size()) {
            const uint64_t grown = data.size() + (data.size() < 4096 ? 4096 : data.size() / 2);
            data.resize(static_cast<size_t>(std::min(grown, most)));
        }
        auto n = file->read(std::span(reinterpret_cast<uint8_t*>(data.data()) + done, data.size() - done));
        if (!n) return unexpected(n.error());
        if (*n == 0) break;
        done += *n;
    }
    data.resize(done);
    return data;
}

}  // namespace

Result<Bytes, FileReadError> readBoundedFile(const std::filesystem::path& path, uint64_t limitBytes) {
    return readWhole<Bytes>(path, limitBytes);
}

Result<std::string, FileReadError> readBoundedText(const std::filesystem::path& path, uint64_t limitBytes) {
    return readWhole<std::string>(path, limitBytes);
}

}  // namespace hollowkit
