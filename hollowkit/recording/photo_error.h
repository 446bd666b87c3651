#pragma once

// PhotoError: why a photo was not written. The caller shows
// "Photo failed: " + userMessage().

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace hollowkit {

struct PhotoError {
    enum class Kind : uint8_t {
        none = 0,
        noImage,         // the frame carried no picture
        encodingFailed,  // the picture could not be encoded
        writeFailed,     // the file could not be written; `code` and `path` say why
    };

    Kind kind = Kind::none;
    std::error_code code;
    std::filesystem::path path;

    static PhotoError noImage() { return {Kind::noImage, {}, {}}; }
    static PhotoError encodingFailed() { return {Kind::encodingFailed, {}, {}}; }
    static PhotoError writeFailed(std::error_code code, std::filesystem::path path) {
        return {Kind::writeFailed, code, std::move(path)};
    }

    // "The frame had no image data", "Could not encode the photo", or the
    // system's text for a write failure with the path, e.g.
    // "Permission denied (/home/ann/Videos/Lumenhollow/Lumenhollow Photo ….heic)".
    std::string userMessage() const;

    bool operator==(const PhotoError&) const = default;
};

}  // namespace hollowkit
