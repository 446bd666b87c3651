#include "hollowkit/recording/photo_error.h"

namespace hollowkit {

std::string PhotoError::userMessage() const {
    switch (kind) {
    case Kind::noImage:
        return "The frame had no image data";
    case Kind::encodingFailed:
        return "Could not encode the photo";
    case Kind::writeFailed:
        return path.empty() ? code.message() : code.message() + " (" + path.string() + ")";
    case Kind::none:
        break;
    }
    return {};
}

}  // namespace hollowkit
