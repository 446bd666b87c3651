#include "hollowkit/imaging/lut_file.h"

#include <utility>

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

ColorLUT::LoadError loadError(const FileReadError& error) {
    switch (error.kind) {
        case FileReadError::Kind::invalidPath:
        case FileReadError::Kind::notRegularFile:
        case FileReadError::Kind::tooLarge:
            return ColorLUT::LoadError::refusedFile(error.reason());
        case FileReadError::Kind::cannotOpen:
        case FileReadError::Kind::readFailed:
        case FileReadError::Kind::none:
            break;
    }
    return ColorLUT::LoadError::unreadable();
}

Result<Bytes, ColorLUT::LoadError> readWholeFile(const std::string& path, uint64_t maxBytes) {
    auto bytes = readBoundedFile(path, maxBytes);
    if (!bytes) return unexpected(loadError(bytes.error()));
    return std::move(bytes).value();
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
