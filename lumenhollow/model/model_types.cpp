#include "lumenhollow/model/model_types.h"

#include "hollowkit/base/enum_names.h"

namespace lumenhollow {

using hollowkit::parseEnumName;

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
    return parseEnumName(text, kAllConnectionModes);
}
std::optional<RecordTarget> parseRecordTarget(std::string_view text) {
    return parseEnumName(text, kAllRecordTargets);
}
std::optional<NotchContent> parseNotchContent(std::string_view text) {
    return parseEnumName(text, kAllNotchContents);
}
std::optional<NotchTrigger> parseNotchTrigger(std::string_view text) {
    return parseEnumName(text, kAllNotchTriggers);
}
std::optional<CloseBehavior> parseCloseBehavior(std::string_view text) {
    return parseEnumName(text, kAllCloseBehaviors);
}
std::optional<GuideKind> parseGuideKind(std::string_view text) {
    return parseEnumName(text, kAllGuideKinds);
}

}  // namespace lumenhollow
