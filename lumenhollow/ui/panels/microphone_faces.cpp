#include "lumenhollow/ui/panels/microphone_faces.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace lumenhollow {

namespace {

constexpr const char* kNoMicrophone = "No microphone";
constexpr const char* kMacMicrophone = "Mac Microphone";
constexpr const char* kAudioOnCamera = "Audio on camera";
constexpr std::string_view kMicrophoneOff = "off";
constexpr int kMicNameWidth = 150;
constexpr int kMicNameWidthCompact = 84;

std::string lowerAscii(std::string text) {
    std::ranges::transform(text, text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

// Characters, not bytes: names may hold any script.
size_t utf8Length(std::string_view text) {
    return static_cast<size_t>(std::ranges::count_if(text, [](unsigned char c) { return (c & 0xC0) != 0x80; }));
}

}  // namespace

std::string microphoneIcon(const std::string& name) {
    const std::string lower = lowerAscii(name);
    const auto has = [&lower](std::string_view part) { return lower.find(part) != std::string::npos; };
    if (has("airpods")) return "airpods";
    if (has("iphone")) return "iphone";
    if (has("macbook") || has("built-in") || has("imac")) return "laptopcomputer";
    if (name.empty()) return "mic.slash";
    return "mic.fill";
}

std::string shortMicrophoneName(const std::string& name) {
    static constexpr std::array<std::string_view, 2> kSuffixes{" Microphone", " Mic"};
    for (std::string_view suffix : kSuffixes) {
        if (name.ends_with(suffix) && utf8Length(name) > suffix.size() + 3) {
            return name.substr(0, name.size() - suffix.size());
        }
    }
    return name;
}

MicrophoneLabel cameraMicrophoneLabel(const MicrophoneSnapshot& snapshot, bool compact) {
    MicrophoneLabel label;
    label.nameMaxWidth = compact ? kMicNameWidthCompact : kMicNameWidth;
    label.enabled = !snapshot.microphones.empty();
    if (snapshot.active) {
        label.symbol = microphoneIcon(snapshot.active->name);
        label.name = shortMicrophoneName(snapshot.active->name);
        label.autoBadge = snapshot.automatic && !compact;
    } else {
        label.symbol = microphoneIcon({});
        label.name = kNoMicrophone;
    }
    return label;
}

MenuEntries cameraMicrophoneEntries(const MicrophoneSnapshot& snapshot) {
    MenuEntries entries{menuChoiceRow("Automatic (DJI Mic first)", snapshot.automatic,
                                      MenuCommand::chooseAutomaticMicrophone, std::string())};
    if (!snapshot.microphones.empty()) entries.push_back(menuSeparator());
    for (const hollowkit::MicrophoneOption& option : snapshot.microphones) {
        // The whole option must match: a renamed microphone is another choice.
        const bool current = !snapshot.automatic && snapshot.active == option;
        entries.push_back(menuChoiceRow(option.displayName(), current, MenuCommand::chooseCameraMicrophone, option.id));
    }
    return entries;
}

std::string cameraMicrophoneHelp(const std::optional<hollowkit::MicrophoneOption>& active) {
    if (active && active->via) return "Your DJI Mic, heard through " + *active->via;
    return "Microphone used when recording on this Mac";
}

bool wirelessSelectionMissing(const WirelessMicrophoneSnapshot& snapshot) {
    if (snapshot.selection.empty() || snapshot.selection == kMicrophoneOff) return false;
    return std::ranges::none_of(snapshot.microphones, [&snapshot](const hollowkit::AudioInputOption& input) {
        return input.id == snapshot.selection;
    });
}

std::string wirelessSelectedName(const WirelessMicrophoneSnapshot& snapshot) {
    if (snapshot.selection == kMicrophoneOff) return kAudioOnCamera;
    if (snapshot.selection.empty()) return snapshot.defaultName.value_or(kMacMicrophone);
    const auto found = std::ranges::find(snapshot.microphones, snapshot.selection, &hollowkit::AudioInputOption::id);
    return found == snapshot.microphones.end() ? kMacMicrophone : found->name;
}

MicrophoneLabel wirelessMicrophoneLabel(const WirelessMicrophoneSnapshot& snapshot) {
    MicrophoneLabel label;
    const std::string selected = wirelessSelectedName(snapshot);
    // A remembered input that is gone reads "Mac Microphone" with the plain
    // microphone: recordings then take the default input in its place.
    label.symbol = snapshot.selection == kMicrophoneOff ? "mic.slash" : microphoneIcon(selected);
    label.name = shortMicrophoneName(selected);
    return label;
}

MenuEntries wirelessMicrophoneEntries(const WirelessMicrophoneSnapshot& snapshot) {
    std::string defaultTitle = "Default Microphone";
    if (snapshot.defaultName) defaultTitle += " (" + *snapshot.defaultName + ")";
    MenuEntries entries{
        menuHeader("Record Your Voice on This Mac"),
        menuChoiceRow(std::move(defaultTitle), snapshot.selection.empty(), MenuCommand::chooseWirelessMicrophone,
                      std::string()),
    };
    for (const hollowkit::AudioInputOption& input : snapshot.microphones) {
        entries.push_back(menuChoiceRow(input.name, snapshot.selection == input.id,
                                        MenuCommand::chooseWirelessMicrophone, input.id));
    }
    entries.push_back(menuSeparator());
    entries.push_back(menuChoiceRow("Off: Sound Only on the microSD Card", snapshot.selection == kMicrophoneOff,
                                    MenuCommand::chooseWirelessMicrophone, std::string(kMicrophoneOff)));
    entries.push_back(menuSeparator());
    entries.push_back(menuCommandRow("Use USB-C for the DJI Mic", MenuCommand::useUSBForMicrophone));
    return entries;
}

std::string wirelessMicrophoneHelp(const WirelessMicrophoneSnapshot& snapshot) {
    std::string help = kWirelessMicrophoneHelp;
    if (wirelessSelectionMissing(snapshot)) {
        help += ". The chosen microphone is not connected, so recordings use the default microphone.";
    }
    return help;
}

}  // namespace lumenhollow
