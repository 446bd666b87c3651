#pragma once

// What the microphone control shows, as plain values: the snapshots its two
// menus are built from (a menu is rebuilt only when its snapshot changes),
// the label of each face, the rows of each menu and the help texts. The
// camera face lists the camera's own microphones; the Wi-Fi face lists this
// computer's inputs, because the camera's Wi-Fi picture carries no sound.
// Pure values, any thread.

#include <optional>
#include <string>
#include <vector>

#include "hollowkit/camera/camera_types.h"
#include "hollowkit/recording/audio_input_backend.h"
#include "lumenhollow/ui/menus/menu_entries.h"

namespace lumenhollow {

inline constexpr const char* kWirelessMicrophoneHelp =
    "Microphone recorded with videos and screen recordings made on this Mac over Wi-Fi";

struct MicrophoneSnapshot {
    std::vector<hollowkit::MicrophoneOption> microphones;
    std::optional<hollowkit::MicrophoneOption> active;
    bool automatic = true;

    bool operator==(const MicrophoneSnapshot&) const = default;
};

struct WirelessMicrophoneSnapshot {
    std::string selection;  // "", "off" or an input's id
    std::vector<hollowkit::AudioInputOption> microphones;
    std::optional<std::string> defaultName;

    bool operator==(const WirelessMicrophoneSnapshot&) const = default;
};

// The face of either menu.
struct MicrophoneLabel {
    std::string symbol;
    std::string name;
    bool autoBadge = false;
    bool enabled = true;
    int nameMaxWidth = 150;

    bool operator==(const MicrophoneLabel&) const = default;
};

// The symbol for a device of that name ("mic.slash" for no name).
std::string microphoneIcon(const std::string& name);
// The name without a trailing " Microphone" or " Mic", unless that would
// leave three characters or fewer ("Mac Microphone" stays whole).
std::string shortMicrophoneName(const std::string& name);

MicrophoneLabel cameraMicrophoneLabel(const MicrophoneSnapshot& snapshot, bool compact);
MenuEntries cameraMicrophoneEntries(const MicrophoneSnapshot& snapshot);
std::string cameraMicrophoneHelp(const std::optional<hollowkit::MicrophoneOption>& active);

// The remembered input is not among the inputs found: no input row is
// marked, and recordings take the default input instead.
bool wirelessSelectionMissing(const WirelessMicrophoneSnapshot& snapshot);
// "Audio on camera", the chosen input's name, the default input's name, or
// "Mac Microphone" when none of those is known.
std::string wirelessSelectedName(const WirelessMicrophoneSnapshot& snapshot);
MicrophoneLabel wirelessMicrophoneLabel(const WirelessMicrophoneSnapshot& snapshot);
MenuEntries wirelessMicrophoneEntries(const WirelessMicrophoneSnapshot& snapshot);
std::string wirelessMicrophoneHelp(const WirelessMicrophoneSnapshot& snapshot);

}  // namespace lumenhollow
