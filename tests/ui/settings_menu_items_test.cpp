#include "lumenhollow/ui/menus/settings_menu_items.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "../model/model_harness.h"
#include "lumenhollow/ui/menus/menu_commands.h"

namespace lumenhollow {
namespace {

// Top-level rows by title ("-" a separator), " (off)" when disabled.
std::vector<std::string> itemsOutline(const std::vector<MenuEntry>& entries) {
    std::vector<std::string> rows;
    for (const MenuEntry& entry : entries) {
        rows.push_back((entry.kind == MenuEntryKind::separator ? "-" : entry.title) + (entry.enabled ? "" : " (off)"));
    }
    return rows;
}

// The checked rows of the submenu `title`, at any depth; "?" without one.
std::vector<std::string> itemsChecked(const std::vector<MenuEntry>& entries, const std::string& title) {
    for (const MenuEntry& entry : entries) {
        if (entry.title != title) {
            std::vector<std::string> deeper = itemsChecked(entry.children, title);
            if (deeper != std::vector<std::string>{"?"}) return deeper;
            continue;
        }
        std::vector<std::string> checked;
        for (const MenuEntry& row : entry.children) {
            if (row.checked) checked.push_back(row.title);
        }
        return checked;
    }
    return {"?"};
}

TEST(SettingsMenuItems, RecordingAndTheCameraDecideWhichPickersExistAndWork) {
    const std::string countdownToEnd = "Countdown,Notch,-,Import LUT…,Open Output Folder";
    const struct {
        bool recording;
        bool cameraSettings;
        std::string rows;
    } cases[] = {
        {false, false, "Recording Codec," + countdownToEnd},
        {true, false, "Recording Codec (off)," + countdownToEnd},
        {false, true, "Recording Codec,Record To," + countdownToEnd},
        {true, true, "Recording Codec (off),Record To (off)," + countdownToEnd},
    };
    for (const auto& c : cases) {
        SettingsSnapshot snapshot;
        snapshot.isRecording = c.recording;
        snapshot.supportsCameraSettings = c.cameraSettings;
        const std::vector<MenuEntry> entries = settingsMenuEntries(snapshot, PublishedState{});
        std::string rows;
        for (const std::string& row : itemsOutline(entries)) rows += (rows.empty() ? "" : ",") + row;
        EXPECT_EQ(rows, c.rows) << c.recording << c.cameraSettings;
        // Nothing in the countdown and notch submenus is ever disabled.
        for (const MenuEntry& entry : entries) {
            if (entry.title != "Countdown" && entry.title != "Notch") continue;
            for (const MenuEntry& row : entry.children) EXPECT_TRUE(row.enabled) << row.title;
        }
    }
}

TEST(SettingsMenuItems, CheckMarksFollowTheLiveValueNotTheSnapshot) {
    using Arrange = std::function<void(SettingsSnapshot&, PublishedState&)>;
    const auto countdown = [](int seconds) {
        return Arrange([seconds](auto&, auto& s) { s.countdownSeconds = seconds; });
    };
    const struct {
        const char* name;
        Arrange arrange;
        const char* picker;
        std::vector<std::string> checked;
    } cases[] = {
        {"countdown off", countdown(0), "Countdown", {"Off"}},
        {"countdown 5", countdown(5), "Countdown", {"5 seconds"}},
        {"countdown 10", countdown(10), "Countdown", {"10 seconds"}},
        {"a stored 7 is no row", countdown(7), "Countdown", {}},
        {"live countdown",
         [](auto& snap, auto& s) { snap.countdownSeconds = 3, s.countdownSeconds = 10; },
         "Countdown",
         {"10 seconds"}},
        {"live codec",
         [](auto& snap, auto& s) { snap.codec = hollowkit::VideoCodec::hevc, s.codec = hollowkit::VideoCodec::h264; },
         "Recording Codec",
         {"H.264"}},
        {"target while recording",
         [](auto& snap, auto& s) {
             snap.supportsCameraSettings = snap.isRecording = true;
             s.recordTarget = RecordTarget::mac;
         },
         "Record To",
         {"Mac"}},
        {"notch defaults", [](auto&, auto&) {}, "Content", {"Live Preview and Controls"}},
        {"notch opens on click",
         [](auto&, auto& s) { s.notchTrigger = NotchTrigger::click; },
         "Open",
         {"When Clicked"}},
        {"quit on close",
         [](auto&, auto& s) { s.closeBehavior = CloseBehavior::quit; },
         "Closing the Window",
         {"Quit Lumenhollow"}},
    };
    for (const auto& c : cases) {
        SettingsSnapshot snapshot;
        PublishedState live;
        c.arrange(snapshot, live);
        EXPECT_EQ(itemsChecked(settingsMenuEntries(snapshot, live), c.picker), c.checked) << c.name;
    }
}

TEST(SettingsMenuItems, CommandsReachTheModelAndItsStore) {
    const auto text = [](const char* value) { return SettingsValue(std::string(value)); };
    const auto codec = [](const PublishedState& s) { return s.codec; };
    const auto keyed = [](MenuCommand command, const char* key) {
        MenuEntry entry = menuCommandRow("", command);
        entry.key = key;
        return entry;
    };
    const auto valued = [](MenuCommand command, int value) { return menuChoiceRow("", true, command, value); };
    using Writes = std::optional<std::vector<SettingsWrite>>;
    const struct {
        const char* name;
        MenuEntry entry;
        Writes writes;  // nothing: whatever the setter stores
        std::function<bool(const PublishedState&)> applied;
    } cases[] = {
        {"codec H.264",
         valued(MenuCommand::setCodec, 1),
         Writes({{"videoCodec", text("H.264")}}),
         [&](auto& s) { return codec(s) == hollowkit::VideoCodec::h264; }},
        {"codec past the list", valued(MenuCommand::setCodec, 2), Writes({}),
         [&](auto& s) { return codec(s) == hollowkit::VideoCodec::hevc; }},
        {"codec before the list", valued(MenuCommand::setCodec, -1), Writes({}),
         [&](auto& s) { return codec(s) == hollowkit::VideoCodec::hevc; }},
        {"target Mac", valued(MenuCommand::setRecordTarget, 1), Writes({}),
         [](auto& s) { return s.recordTarget == RecordTarget::mac; }},
        {"countdown 7 is no choice", valued(MenuCommand::setCountdownSeconds, 7), Writes({}),
         [](auto& s) { return s.countdownSeconds == 0; }},
        {"notch toggled off",
         menuToggleRow("", false, MenuCommand::setShowInNotch),
         Writes({{"showInNotch", SettingsValue(false)}}),
         [](auto& s) { return !s.showInNotch; }},
        {"trigger past the list", valued(MenuCommand::setNotchTrigger, 5), Writes({}),
         [](auto& s) { return s.notchTrigger == NotchTrigger::hover; }},
        {"a guide by its stored name", keyed(MenuCommand::toggleGuide, "Horizon"), std::nullopt,
         [](auto& s) { return s.guides == std::set<GuideKind>{GuideKind::horizon}; }},
        {"a guide nobody knows", keyed(MenuCommand::toggleGuide, "Spiral"), Writes({}),
         [](auto& s) { return s.guides.empty(); }},
        {"a look nobody knows", keyed(MenuCommand::chooseLook, "/gone.cube"), Writes({}),
         [](auto& s) { return !s.selectedLUT; }},
        {"a format the camera does not offer", keyed(MenuCommand::chooseFormat, "1x1@1"), Writes({}),
         [](auto& s) { return !s.activeFormat || s.activeFormat->id() != "1x1@1"; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ModelHarness h;
        CameraModel& model = h.createAndStart();
        h.settings.clearWrites();
        runMenuCommand(model, c.entry);
        if (c.writes) {
            EXPECT_EQ(h.settings.writes(), *c.writes);
        }
        EXPECT_TRUE(c.applied(model.state()));
    }
}

}  // namespace
}  // namespace lumenhollow
