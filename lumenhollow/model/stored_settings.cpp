#include "lumenhollow/model/stored_settings.h"

#include <limits>
#include <string>

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

bool isStoredField(Field field) {
    switch (field) {
        case Field::lastScreenTake:
        case Field::wirelessMicID:
        case Field::codec:
        case Field::countdownSeconds:
        case Field::recordScreen:
        case Field::bubbleStyle:
        case Field::includeMacSound:
        case Field::autoZoom:
        case Field::showInNotch:
        case Field::notchContent:
        case Field::notchTrigger:
        case Field::closeBehavior:
        case Field::guides:
        case Field::selectedLUT:
            return true;
        default:
            return false;
    }
}

void writeStoredSetting(SettingsStore& settings, const PublishedState& state, Field field) {
    namespace key = settings_key;
    const auto text = [](std::string_view value) { return SettingsValue(std::string(value)); };
    switch (field) {
        case Field::lastScreenTake:
            if (state.lastScreenTake) {
                settings.set(key::lastScreenTake, Url::fromPath(*state.lastScreenTake));
            } else {
                settings.remove(key::lastScreenTake);
            }
            return;
        case Field::wirelessMicID:
            settings.set(key::wirelessMicrophone, state.wirelessMicID);
            return;
        case Field::codec:
            settings.set(key::videoCodec, text(hk::toString(state.codec)));
            return;
        case Field::countdownSeconds:
            settings.set(key::recordCountdown, int64_t{state.countdownSeconds});
            return;
        case Field::recordScreen:
            settings.set(key::recordScreen, state.recordScreen);
            return;
        case Field::bubbleStyle:
            // All four, so the stored style is always one the user chose whole.
            settings.set(key::bubbleCorner, text(hk::toString(state.bubbleStyle.corner)));
            settings.set(key::bubbleSize, text(hk::toString(state.bubbleStyle.size)));
            settings.set(key::bubbleShape, text(hk::toString(state.bubbleStyle.shape)));
            settings.set(key::bubbleBackground, text(hk::toString(state.bubbleStyle.background)));
            return;
        case Field::includeMacSound:
            settings.set(key::includeMacSound, state.includeMacSound);
            return;
        case Field::autoZoom:
            settings.set(key::autoZoom, state.autoZoom);
            return;
        case Field::showInNotch:
            settings.set(key::showInNotch, state.showInNotch);
            return;
        case Field::notchContent:
            settings.set(key::notchContent, text(toString(state.notchContent)));
            return;
        case Field::notchTrigger:
            settings.set(key::notchTrigger, text(toString(state.notchTrigger)));
            return;
        case Field::closeBehavior:
            settings.set(key::closeBehavior, text(toString(state.closeBehavior)));
            return;
        case Field::guides: {
            StringArray names;
            for (GuideKind kind : state.guides) names.emplace_back(toString(kind));
            settings.set(key::guides, std::move(names));
            return;
        }
        case Field::selectedLUT:
            if (state.selectedLUT) {
                settings.set(key::selectedLUT, state.selectedLUT->id);
            } else {
                settings.remove(key::selectedLUT);
            }
            return;
        default:
            return;
    }
}

}  // namespace lumenhollow
