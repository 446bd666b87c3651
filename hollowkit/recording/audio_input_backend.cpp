#include "hollowkit/recording/audio_input_backend.h"

#include <functional>

namespace hollowkit {

size_t AudioInputOptionHash::operator()(const AudioInputOption& option) const {
    const size_t idHash = std::hash<std::string>{}(option.id);
    const size_t nameHash = std::hash<std::string>{}(option.name);
    return idHash ^ (nameHash + 0x9e3779b97f4a7c15ULL + (idHash << 6) + (idHash >> 2));
}

std::string MicrophoneError::userMessage() const {
    switch (kind) {
    case Kind::notAllowed:
        // Linux has no system-wide microphone switch of the kind macOS has;
        // the desktop's privacy panel is the place that can refuse it.
        return "Lumenhollow needs Microphone access. Allow it in Settings › Privacy › Microphone.";
    case Kind::unavailable:
        return "That microphone is not connected";
    case Kind::cancelled:
    case Kind::none:
        break;
    }
    return {};
}

}  // namespace hollowkit
