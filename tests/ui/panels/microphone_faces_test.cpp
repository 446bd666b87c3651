#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "lumenhollow/ui/panels/microphone_faces.h"

namespace lumenhollow {
namespace {

using hollowkit::AudioInputOption;
using hollowkit::MicrophoneOption;

const MicrophoneOption kInternal{"cam.internal", "Internal Mic", std::nullopt};
const MicrophoneOption kDjiMic{"cam.dji", "DJI Mic 2", std::string("the camera's receiver")};
const AudioInputOption kBuiltIn{"alsa_input.pci", "Built-in Audio Analog Stereo"};
const AudioInputOption kUsbHeadset{"alsa_input.usb", "Jabra USB Microphone"};

// One row as the menu shows it: title, enabled, check mark.
struct Row {
    MenuEntryKind kind;
    std::string title;
    bool checked;
    bool enabled = true;
    bool operator==(const Row&) const = default;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << static_cast<int>(row.kind) << " \"" << row.title << "\"" << (row.checked ? " checked" : "")
         << (row.enabled ? "" : " disabled");
}

std::vector<Row> rows(const MenuEntries& entries) {
    std::vector<Row> out;
    for (const MenuEntry& entry : entries) out.push_back({entry.kind, entry.title, entry.checked, entry.enabled});
    return out;
}

TEST(MicrophoneFacesTest, NamesAndSymbols) {
    struct Case {
        std::string name;
        std::string icon;
        std::string shortName;
    };
    const std::vector<Case> cases{
        {"", "mic.slash", ""},
        {"Mac Microphone", "mic.fill", "Mac Microphone"},  // 14 characters: not more than 11 + 3
        {"MacBook Pro Microphone", "laptopcomputer", "MacBook Pro"},
        {"Built-in Audio Analog Stereo", "laptopcomputer", "Built-in Audio Analog Stereo"},
        {"iMac Microphone", "laptopcomputer", "iMac"},
        {"AirPods Pro", "airpods", "AirPods Pro"},
        {"Sam's AIRPODS Microphone", "airpods", "Sam's AIRPODS"},
        {"Sam's iPhone Microphone", "iphone", "Sam's iPhone"},
        {"DJI Mic", "mic.fill", "DJI Mic"},  // 7 characters: kept
        {"DJI2 Mic", "mic.fill", "DJI2"},    // 8: shortened
        {"Rode Mic Microphone", "mic.fill", "Rode Mic"},  // only the last ending goes
        {"Microphone", "mic.fill", "Microphone"},
        {"Studio Mics", "mic.fill", "Studio Mics"},
        {"Micro Mic", "mic.fill", "Micro"},
        // Characters, not bytes, decide: "Ünö Mic" has 7.
        {"\u00DCn\u00F6 Mic", "mic.fill", "\u00DCn\u00F6 Mic"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(microphoneIcon(c.name), c.icon);
        EXPECT_EQ(shortMicrophoneName(c.name), c.shortName);
    }
}

TEST(MicrophoneFacesTest, TheCameraFaceLabel) {
    struct Case {
        const char* name;
        MicrophoneSnapshot snapshot;
        bool compact;
        MicrophoneLabel label;
        std::string help;
    };
    const std::string onMac = "Microphone used when recording on this Mac";
    const std::vector<Case> cases{
        {"no microphones", {{}, std::nullopt, true}, false, {"mic.slash", "No microphone", false, false, 150}, onMac},
        {"microphones, none active", {{kInternal}, std::nullopt, true}, false,
         {"mic.slash", "No microphone", false, true, 150}, onMac},
        {"automatic", {{kInternal, kDjiMic}, kDjiMic, true}, false, {"mic.fill", "DJI Mic 2", true, true, 150},
         "Your DJI Mic, heard through the camera's receiver"},
        {"automatic, compact", {{kInternal, kDjiMic}, kDjiMic, true}, true, {"mic.fill", "DJI Mic 2", false, true, 84},
         "Your DJI Mic, heard through the camera's receiver"},
        {"chosen", {{kInternal, kDjiMic}, kInternal, false}, false, {"mic.fill", "Internal", false, true, 150}, onMac},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cameraMicrophoneLabel(c.snapshot, c.compact), c.label);
        EXPECT_EQ(cameraMicrophoneHelp(c.snapshot.active), c.help);
    }
}

TEST(MicrophoneFacesTest, TheCameraMenuMarksTheWholeOptionOnlyWhenChosen) {
    const MicrophoneOption renamed{kDjiMic.id, "DJI Mic 3", kDjiMic.via};
    struct Case {
        const char* name;
        MicrophoneSnapshot snapshot;
        std::vector<bool> checks;  // automatic, then one per microphone
    };
    const std::vector<Case> cases{
        {"automatic", {{kInternal, kDjiMic}, kDjiMic, true}, {true, false, false}},
        {"chosen", {{kInternal, kDjiMic}, kDjiMic, false}, {false, false, true}},
        {"chosen, not reported yet", {{kInternal, kDjiMic}, std::nullopt, false}, {false, false, false}},
        {"the active one renamed", {{kInternal, kDjiMic}, renamed, false}, {false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MenuEntries entries = cameraMicrophoneEntries(c.snapshot);
        ASSERT_EQ(entries.size(), 4u);
        EXPECT_EQ(entries[0].title, "Automatic (DJI Mic first)");
        EXPECT_EQ(entries[1].kind, MenuEntryKind::separator);
        EXPECT_EQ(entries[2].title, "Internal Mic");
        EXPECT_EQ(entries[3].title, "DJI Mic 2 via the camera's receiver");
        EXPECT_EQ((std::vector<bool>{entries[0].checked, entries[2].checked, entries[3].checked}), c.checks);
        EXPECT_EQ(entries[3].command, MenuCommand::chooseCameraMicrophone);
        EXPECT_EQ(entries[3].key, kDjiMic.id);
    }
    // Without microphones only the automatic row remains.
    EXPECT_EQ(rows(cameraMicrophoneEntries({{}, std::nullopt, true})),
              (std::vector<Row>{{MenuEntryKind::choice, "Automatic (DJI Mic first)", true}}));
}

TEST(MicrophoneFacesTest, TheWirelessFace) {
    struct Case {
        const char* name;
        WirelessMicrophoneSnapshot snapshot;
        std::string selected;
        std::string symbol;
        std::string shown;
        std::vector<Row> rows;
        bool missing = false;
    };
    const auto header = Row{MenuEntryKind::header, "Record Your Voice on This Mac", false, false};
    const auto separator = Row{MenuEntryKind::separator, "", false};
    const auto usb = Row{MenuEntryKind::command, "Use USB-C for the DJI Mic", false};
    const auto off = [](bool checked) { return Row{MenuEntryKind::choice, "Off: Sound Only on the microSD Card", checked}; };
    const auto input = [](const AudioInputOption& option, bool checked) {
        return Row{MenuEntryKind::choice, option.name, checked};
    };
    const std::vector<AudioInputOption> both{kBuiltIn, kUsbHeadset};
    const std::vector<Case> cases{
        {"off", {"off", both, kBuiltIn.name}, "Audio on camera", "mic.slash", "Audio on camera",
         {header, {MenuEntryKind::choice, "Default Microphone (Built-in Audio Analog Stereo)", false},
          input(kBuiltIn, false), input(kUsbHeadset, false), separator, off(true), separator, usb}},
        {"the default, with a name", {"", both, kBuiltIn.name}, kBuiltIn.name, "laptopcomputer", kBuiltIn.name,
         {header, {MenuEntryKind::choice, "Default Microphone (Built-in Audio Analog Stereo)", true},
          input(kBuiltIn, false), input(kUsbHeadset, false), separator, off(false), separator, usb}},
        {"the default, no input at all", {"", {}, std::nullopt}, "Mac Microphone", "mic.fill", "Mac Microphone",
         {header, {MenuEntryKind::choice, "Default Microphone", true}, separator, off(false), separator, usb}},
        {"a chosen input", {kUsbHeadset.id, both, kBuiltIn.name}, kUsbHeadset.name, "mic.fill", "Jabra USB",
         {header, {MenuEntryKind::choice, "Default Microphone (Built-in Audio Analog Stereo)", false},
          input(kBuiltIn, false), input(kUsbHeadset, true), separator, off(false), separator, usb}},
        // Kept as chosen: no row is marked, and the default input records
        // in its place, so it is drawn as a microphone, not as silent.
        {"a remembered input that is gone", {kUsbHeadset.id, {kBuiltIn}, kBuiltIn.name}, "Mac Microphone",
         "mic.fill", "Mac Microphone",
         {header, {MenuEntryKind::choice, "Default Microphone (Built-in Audio Analog Stereo)", false},
          input(kBuiltIn, false), separator, off(false), separator, usb},
         true},
        {"a remembered input that is gone, no input at all", {kUsbHeadset.id, {}, std::nullopt}, "Mac Microphone",
         "mic.fill", "Mac Microphone",
         {header, {MenuEntryKind::choice, "Default Microphone", false}, separator, off(false), separator, usb}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(wirelessSelectedName(c.snapshot), c.selected);
        const MicrophoneLabel label = wirelessMicrophoneLabel(c.snapshot);
        EXPECT_EQ(label.symbol, c.symbol);
        EXPECT_EQ(label.name, c.shown);
        EXPECT_FALSE(label.autoBadge);
        EXPECT_TRUE(label.enabled);
        EXPECT_EQ(rows(wirelessMicrophoneEntries(c.snapshot)), c.rows);
        EXPECT_EQ(wirelessSelectionMissing(c.snapshot), c.missing);
        const std::string help = wirelessMicrophoneHelp(c.snapshot);
        EXPECT_EQ(help.find("recordings use the default microphone") != std::string::npos, c.missing) << help;
    }
}

TEST(MicrophoneFacesTest, WirelessRowsNameWhatTheyStore) {
    const MenuEntries entries = wirelessMicrophoneEntries({"", {kBuiltIn, kUsbHeadset}, std::nullopt});
    std::vector<std::string> keys;
    for (const MenuEntry& entry : entries) {
        if (entry.command == MenuCommand::chooseWirelessMicrophone) keys.push_back(entry.key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"", kBuiltIn.id, kUsbHeadset.id, "off"}));
    EXPECT_EQ(entries.back().command, MenuCommand::useUSBForMicrophone);
}

}  // namespace
}  // namespace lumenhollow
