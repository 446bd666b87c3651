#include "lumenhollow/model/model_types.h"

namespace lumenhollow {

namespace {

template <typename Enum, size_t N>
std::optional<Enum> parseExact(std::string_view text, const std::array<Enum, N>& cases) {
    for (Enum value : cases) {
        if (toString(value) == text) return value;
    }
    return std::nullopt;
}

}  // namespace

std::string_view toString(ConnectionMode mode) {
    switch (mode) {
        case ConnectionMode::usb: return "USB";
        case ConnectionMode::wireless: return "Wireless";
    }
    return {};
}

std::string_view toString(RecordTarget target) {
    switch (target) {
        case RecordTarget::camera: return "Camera microSD";
        case RecordTarget::mac: return "Mac";
    }
    return {};
}

std::string_view toString(NotchContent content) {
    switch (content) {
        case NotchContent::preview: return "Live Preview and Controls";
        case NotchContent::controls: return "Controls Only";
    }
    return {};
}

std::string_view toString(NotchTrigger trigger) {
    switch (trigger) {
        case NotchTrigger::hover: return "When Hovering";
        case NotchTrigger::click: return "When Clicked";
    }
    return {};
}

std::string_view toString(CloseBehavior behavior) {
    switch (behavior) {
        case CloseBehavior::keepInNotch: return "Keep Running in the Notch";
        case CloseBehavior::quit: return "Quit Lumenhollow";
    }
    return {};
}

std::string_view toString(GuideKind kind) {
    switch (kind) {
        case GuideKind::grid: return "Grid";
        case GuideKind::horizon: return "Horizon";
        case GuideKind::vertical: return "9:16 Frame";
    }
    return {};
}

std::optional<ConnectionMode> parseConnectionMode(std::string_view text) {
    return parseExact(text, kAllConnectionModes);
}
std::optional<RecordTarget> parseRecordTarget(std::string_view text) {
    return parseExact(text, kAllRecordTargets);
}
std::optional<NotchContent> parseNotchContent(std::string_view text) {
    return parseExact(text, kAllNotchContents);
}
std::optional<NotchTrigger> parseNotchTrigger(std::string_view text) {
    return parseExact(text, kAllNotchTriggers);
}
std::optional<CloseBehavior> parseCloseBehavior(std::string_view text) {
    return parseExact(text, kAllCloseBehaviors);
}
std::optional<GuideKind> parseGuideKind(std::string_view text) {
    return parseExact(text, kAllGuideKinds);
}

}  // namespace lumenhollow
