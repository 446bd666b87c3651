#pragma once

// The keys under which the model keeps the user's choices: the reading of
// the choices that construction takes from the store, and the writing of
// one choice after it changed. Every read falls back silently to the key's
// default when the key is absent or holds anything unexpected; reading
// never writes. Each choice has one stored form, the one its read accepts.

#include <string_view>

#include "lumenhollow/model/published_state.h"
#include "lumenhollow/platform/settings_store.h"

namespace lumenhollow {

namespace settings_key {
inline constexpr std::string_view welcomed = "welcomed";
inline constexpr std::string_view lastScreenTake = "lastScreenTake";
inline constexpr std::string_view wirelessMicrophone = "wirelessMicrophone";
inline constexpr std::string_view videoCodec = "videoCodec";
inline constexpr std::string_view recordCountdown = "recordCountdown";
inline constexpr std::string_view recordScreen = "recordScreen";
inline constexpr std::string_view bubbleCorner = "bubbleCorner";
inline constexpr std::string_view bubbleSize = "bubbleSize";
inline constexpr std::string_view bubbleShape = "bubbleShape";
inline constexpr std::string_view bubbleBackground = "bubbleBackground";
inline constexpr std::string_view includeMacSound = "includeMacSound";
inline constexpr std::string_view autoZoom = "autoZoom";
inline constexpr std::string_view showInNotch = "showInNotch";
inline constexpr std::string_view notchContent = "notchContent";
inline constexpr std::string_view notchTrigger = "notchTrigger";
inline constexpr std::string_view closeBehavior = "closeBehavior";
inline constexpr std::string_view guides = "guides";
inline constexpr std::string_view selectedLUT = "selectedLUT";
}  // namespace settings_key

// Reads "videoCodec" through "guides", in that order, into the fields they
// back (codec, countdownSeconds, recordScreen, bubbleStyle, includeMacSound,
// autoZoom, showInNotch, notchContent, notchTrigger, closeBehavior, guides).
void readStoredSettings(const SettingsStore& settings, PublishedState& state);

// Whether `field` is kept in the settings by the model itself.
bool isStoredField(Field field);

// Writes the key backing `field` from its value in `state`: one write,
// except the bubble style's four keys (corner, size, shape, background). No
// look or no last take removes its key. Does nothing for a field that
// isStoredField() does not name.
void writeStoredSetting(SettingsStore& settings, const PublishedState& state, Field field);

}  // namespace lumenhollow
