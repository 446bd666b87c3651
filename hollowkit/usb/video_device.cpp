#include "hollowkit/usb/video_device.h"

#include <system_error>

namespace hollowkit {

std::string VideoDeviceError::description() const {
    // strerror's text, without strerror's shared buffer.
    return std::system_category().message(code);
}

std::string VideoDeviceError::toString() const {
    return operation.empty() ? description() : operation + ": " + description();
}

}  // namespace hollowkit
