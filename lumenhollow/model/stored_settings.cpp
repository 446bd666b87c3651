#include "lumenhollow/model/stored_settings.h"

#include <limits>

namespace lumenhollow {

namespace {

template <typename Enum, typename Parse>
Enum readEnum(const SettingsStore& settings, std::string_view key, Parse parse, Enum fallback) {
    const std::optional<std::string> stored = settings.get<std::string>(key);
    if (!stored) return fallback;
    return parse(*stored).value_or(fallback);
}

}  // namespace

void readStoredSettings(const SettingsStore& settings, PublishedState& state) {
    namespace key = settings_key;
    state.codec = settings.get<std::string>(key::videoCodec) == hk::toString(hk::VideoCodec::h264)
                      ? hk::VideoCodec::h264
                      : hk::VideoCodec::hevc;

    const int64_t countdown = settings.get<int64_t>(key::recordCountdown, 0);
    state.countdownSeconds = countdown >= 0 && countdown <= std::numeric_limits<int>::max()
                                 ? static_cast<int>(countdown)
                                 : 0;
    state.recordScreen = settings.get<bool>(key::recordScreen, false);

    const hk::BubbleCorner corner =
        readEnum(settings, key::bubbleCorner, hk::parseBubbleCorner, hk::BubbleCorner::bottomTrailing);
    const hk::BubbleSize size = readEnum(settings, key::bubbleSize, hk::parseBubbleSize, hk::BubbleSize::medium);
    const hk::BubbleShape shape =
        readEnum(settings, key::bubbleShape, hk::parseBubbleShape, hk::BubbleShape::circle);
    const hk::BubbleBackground background =
        readEnum(settings, key::bubbleBackground, hk::parseBubbleBackground, hk::BubbleBackground::keep);
    state.bubbleStyle = hk::BubbleStyle(corner, size, shape, background);

    state.includeMacSound = settings.get<bool>(key::includeMacSound, false);
    state.autoZoom = settings.get<bool>(key::autoZoom, true);
    state.showInNotch = settings.get<bool>(key::showInNotch, true);
    state.notchContent = readEnum(settings, key::notchContent, parseNotchContent, NotchContent::preview);
    state.notchTrigger = readEnum(settings, key::notchTrigger, parseNotchTrigger, NotchTrigger::hover);
    state.closeBehavior = readEnum(settings, key::closeBehavior, parseCloseBehavior, CloseBehavior::keepInNotch);

    state.guides.clear();
    for (const std::string& text : settings.get<StringArray>(key::guides, {})) {
        if (std::optional<GuideKind> kind = parseGuideKind(text)) state.guides.insert(*kind);
    }
}

}  // namespace lumenhollow
