#include "lumenhollow/ui/window/settings_menu_items.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "../model/model_harness.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/testing/fake_file_picker.h"

namespace lumenhollow {
namespace {

// Top-level rows as "title" (a separator as "-"), each marked "(off)" when
// it cannot be chosen.
std::vector<std::string> itemsOutline(const std::vector<MenuEntry>& entries) {
    std::vector<std::string> rows;
    for (const MenuEntry& entry : entries) {
        std::string row = entry.kind == MenuEntryKind::separator ? "-" : entry.title;
        if (!entry.enabled) row += " (off)";
        rows.push_back(row);
    }
    return rows;
}

const MenuEntry* itemsRow(const std::vector<MenuEntry>& entries, const std::string& title) {
    for (const MenuEntry& entry : entries) {
        if (entry.title == title) return &entry;
    }
    return nullptr;
}

// The titles of the checked rows of the submenu `title`.
std::vector<std::string> itemsChecked(const std::vector<MenuEntry>& entries, const std::string& title) {
    std::vector<std::string> checked;
    const MenuEntry* picker = itemsRow(entries, title);
    if (!picker) return {"<no " + title + ">"};
    for (const MenuEntry& row : picker->children) {
        if (row.checked) checked.push_back(row.title);
    }
    return checked;
}

// Every row under `entry`, at any depth, can be chosen.
bool itemsAllEnabled(const MenuEntry& entry) {
    if (!entry.enabled) return false;
    for (const MenuEntry& child : entry.children) {
        if (!itemsAllEnabled(child)) return false;
    }
    return true;
}

struct ItemsGearCase {
    const char* name;
    bool recording;
    bool cameraSettings;
    std::vector<std::string> rows;
};

TEST(SettingsMenuItems, RecordingAndTheCameraDecideWhichPickersExistAndWork) {
    const std::vector<ItemsGearCase> cases{
        {"usb idle", false, false,
         {"Recording Codec", "Countdown", "Notch", "-", "Import LUT…", "Open Output Folder"}},
        {"usb recording", true, false,
         {"Recording Codec (off)", "Countdown", "Notch", "-", "Import LUT…", "Open Output Folder"}},
        {"wifi idle", false, true,
         {"Recording Codec", "Record To", "Countdown", "Notch", "-", "Import LUT…", "Open Output Folder"}},
        {"wifi recording", true, true,
         {"Recording Codec (off)", "Record To (off)", "Countdown", "Notch", "-", "Import LUT…",
          "Open Output Folder"}},
    };
    for (const ItemsGearCase& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsSnapshot snapshot;
        snapshot.isRecording = c.recording;
        snapshot.supportsCameraSettings = c.cameraSettings;
        const std::vector<MenuEntry> entries = settingsMenuEntries(snapshot, PublishedState{});
        EXPECT_EQ(itemsOutline(entries), c.rows);
        // The countdown and the notch settings stay usable whatever happens.
        ASSERT_NE(itemsRow(entries, "Countdown"), nullptr);
        EXPECT_TRUE(itemsAllEnabled(*itemsRow(entries, "Countdown")));
        ASSERT_NE(itemsRow(entries, "Notch"), nullptr);
        EXPECT_TRUE(itemsAllEnabled(*itemsRow(entries, "Notch")));
    }
}

struct ItemsCheckCase {
    const char* name;
    std::function<void(SettingsSnapshot&, PublishedState&)> arrange;
    const char* picker;
    std::vector<std::string> checked;
};

TEST(SettingsMenuItems, CheckMarksFollowTheLiveValueNotTheSnapshot) {
    const std::vector<ItemsCheckCase> cases{
        {"countdown off", [](SettingsSnapshot&, PublishedState& s) { s.countdownSeconds = 0; }, "Countdown", {"Off"}},
        {"countdown 3", [](SettingsSnapshot&, PublishedState& s) { s.countdownSeconds = 3; }, "Countdown",
         {"3 seconds"}},
        {"countdown 5", [](SettingsSnapshot&, PublishedState& s) { s.countdownSeconds = 5; }, "Countdown",
         {"5 seconds"}},
        {"countdown 10", [](SettingsSnapshot&, PublishedState& s) { s.countdownSeconds = 10; }, "Countdown",
         {"10 seconds"}},
        {"countdown 7 is no row", [](SettingsSnapshot&, PublishedState& s) { s.countdownSeconds = 7; }, "Countdown",
         {}},
        {"countdown -1 is no row", [](SettingsSnapshot&, PublishedState& s) { s.countdownSeconds = -1; },
         "Countdown", {}},
        {"live countdown over the snapshot's",
         [](SettingsSnapshot& snap, PublishedState& s) {
             snap.countdownSeconds = 3;
             s.countdownSeconds = 10;
         },
         "Countdown", {"10 seconds"}},
        {"codec default", [](SettingsSnapshot&, PublishedState&) {}, "Recording Codec", {"HEVC"}},
        {"live codec over the snapshot's",
         [](SettingsSnapshot& snap, PublishedState& s) {
             snap.codec = hollowkit::VideoCodec::hevc;
             s.codec = hollowkit::VideoCodec::h264;
         },
         "Recording Codec", {"H.264"}},
        {"target on the card",
         [](SettingsSnapshot& snap, PublishedState& s) {
             snap.supportsCameraSettings = true;
             s.recordTarget = RecordTarget::camera;
         },
         "Record To", {"Camera microSD"}},
        {"target on this computer, while recording",
         [](SettingsSnapshot& snap, PublishedState& s) {
             snap.supportsCameraSettings = true;
             snap.isRecording = true;
             s.recordTarget = RecordTarget::mac;
         },
         "Record To", {"Mac"}},
    };
    for (const ItemsCheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsSnapshot snapshot;
        PublishedState live;
        c.arrange(snapshot, live);
        EXPECT_EQ(itemsChecked(settingsMenuEntries(snapshot, live), c.picker), c.checked);
    }
}

TEST(SettingsMenuItems, PickerRowsListEveryCaseInOrderWithItsIndex) {
    SettingsSnapshot snapshot;
    snapshot.supportsCameraSettings = true;
    const std::vector<MenuEntry> entries = settingsMenuEntries(snapshot, PublishedState{});
    struct Expected {
        const char* picker;
        std::vector<std::string> titles;
        std::vector<int> values;
    };
    for (const Expected& e : std::vector<Expected>{
             {"Recording Codec", {"HEVC", "H.264"}, {0, 1}},
             {"Record To", {"Camera microSD", "Mac"}, {0, 1}},
             {"Countdown", {"Off", "3 seconds", "5 seconds", "10 seconds"}, {0, 3, 5, 10}},
         }) {
        SCOPED_TRACE(e.picker);
        const MenuEntry* picker = itemsRow(entries, e.picker);
        ASSERT_NE(picker, nullptr);
        std::vector<std::string> titles;
        std::vector<int> values;
        for (const MenuEntry& row : picker->children) {
            EXPECT_EQ(row.kind, MenuEntryKind::choice);
            titles.push_back(row.title);
            values.push_back(row.value);
        }
        EXPECT_EQ(titles, e.titles);
        EXPECT_EQ(values, e.values);
    }
}

struct ItemsNotchCase {
    const char* name;
    std::function<void(PublishedState&)> arrange;
    bool shown;
    std::vector<std::string> content;
    std::vector<std::string> open;
    std::vector<std::string> closing;
};

TEST(SettingsMenuItems, NotchRowsAreCheckedFromTheModelAndNeverDisabled) {
    const std::vector<ItemsNotchCase> cases{
        {"defaults", [](PublishedState&) {}, true, {"Live Preview and Controls"}, {"When Hovering"},
         {"Keep Running in the Notch"}},
        {"all turned the other way",
         [](PublishedState& s) {
             s.showInNotch = false;
             s.notchContent = NotchContent::controls;
             s.notchTrigger = NotchTrigger::click;
             s.closeBehavior = CloseBehavior::quit;
         },
         false, {"Controls Only"}, {"When Clicked"}, {"Quit Lumenhollow"}},
        {"while recording", [](PublishedState& s) { s.recordingStarted = hollowkit::WallTime{}; }, true,
         {"Live Preview and Controls"}, {"When Hovering"}, {"Keep Running in the Notch"}},
    };
    for (const ItemsNotchCase& c : cases) {
        SCOPED_TRACE(c.name);
        PublishedState live;
        c.arrange(live);
        const std::vector<MenuEntry> rows = notchSettingsEntries(live);
        EXPECT_EQ(itemsOutline(rows), (std::vector<std::string>{"Show in the Notch", "Content", "Open",
                                                             "Closing the Window"}));
        ASSERT_EQ(rows[0].kind, MenuEntryKind::toggle);
        EXPECT_EQ(rows[0].checked, c.shown);
        EXPECT_EQ(itemsChecked(rows, "Content"), c.content);
        EXPECT_EQ(itemsChecked(rows, "Open"), c.open);
        EXPECT_EQ(itemsChecked(rows, "Closing the Window"), c.closing);
        for (const MenuEntry& row : rows) EXPECT_TRUE(itemsAllEnabled(row)) << row.title;

        // The gear menu carries the very same rows.
        SettingsSnapshot snapshot;
        snapshot.isRecording = live.recordingStarted.has_value();
        const std::vector<MenuEntry> gear = settingsMenuEntries(snapshot, live);
        const MenuEntry* notch = itemsRow(gear, "Notch");
        ASSERT_NE(notch, nullptr);
        EXPECT_EQ(notch->children, rows);
    }
}

TEST(SettingsMenuItems, SnapshotsDifferWhenAnyOfTheNineValuesDoes) {
    const std::vector<std::function<void(SettingsSnapshot&)>> changes{
        [](SettingsSnapshot& s) { s.codec = hollowkit::VideoCodec::h264; },
        [](SettingsSnapshot& s) { s.recordTarget = RecordTarget::mac; },
        [](SettingsSnapshot& s) { s.countdownSeconds = 5; },
        [](SettingsSnapshot& s) { s.showInNotch = false; },
        [](SettingsSnapshot& s) { s.notchContent = NotchContent::controls; },
        [](SettingsSnapshot& s) { s.notchTrigger = NotchTrigger::click; },
        [](SettingsSnapshot& s) { s.closeBehavior = CloseBehavior::quit; },
        [](SettingsSnapshot& s) { s.isRecording = true; },
        [](SettingsSnapshot& s) { s.supportsCameraSettings = true; },
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        SettingsSnapshot changed;
        changes[i](changed);
        EXPECT_NE(changed, SettingsSnapshot{}) << "change " << i;
    }
}

TEST(SettingsMenuItems, SnapshotReadsTheRecordingAndTheActiveCamera) {
    for (bool usb : {true, false}) {
        SCOPED_TRACE(usb ? "usb" : "wifi");
        test::ModelHarness h;
        h.cameras.setPocketConnected(usb);
        CameraModel& model = h.createAndStart();
        model.setCountdownSeconds(5);
        model.setCloseBehavior(CloseBehavior::quit);
        SettingsSnapshot snapshot = settingsSnapshot(model);
        EXPECT_EQ(snapshot.supportsCameraSettings, !usb);
        EXPECT_FALSE(snapshot.isRecording);
        EXPECT_EQ(snapshot.countdownSeconds, 5);
        EXPECT_EQ(snapshot.closeBehavior, CloseBehavior::quit);

        h.emit(hollowkit::CameraEvent::cardRecording(hollowkit::CardRecordingState{true, false, 0}));
        snapshot = settingsSnapshot(model);
        EXPECT_TRUE(snapshot.isRecording);
    }
}

struct ItemsCommandCase {
    const char* name;
    MenuCommand command;
    int value;
    std::vector<SettingsWrite> writes;
    std::function<bool(const PublishedState&)> applied;
};

TEST(SettingsMenuItems, CommandsReachTheModelAndItsStore) {
    const auto text = [](const char* value) { return SettingsValue(std::string(value)); };
    const std::vector<ItemsCommandCase> cases{
        {"codec H.264", MenuCommand::setCodec, 1, {{"videoCodec", text("H.264")}},
         [](const PublishedState& s) { return s.codec == hollowkit::VideoCodec::h264; }},
        {"codec HEVC", MenuCommand::setCodec, 0, {{"videoCodec", text("HEVC")}},
         [](const PublishedState& s) { return s.codec == hollowkit::VideoCodec::hevc; }},
        {"codec out of range", MenuCommand::setCodec, 2, {},
         [](const PublishedState& s) { return s.codec == hollowkit::VideoCodec::hevc; }},
        {"codec negative", MenuCommand::setCodec, -1, {},
         [](const PublishedState& s) { return s.codec == hollowkit::VideoCodec::hevc; }},
        {"target is not stored", MenuCommand::setRecordTarget, 1, {},
         [](const PublishedState& s) { return s.recordTarget == RecordTarget::mac; }},
        {"countdown 10", MenuCommand::setCountdownSeconds, 10, {{"recordCountdown", SettingsValue(int64_t{10})}},
         [](const PublishedState& s) { return s.countdownSeconds == 10; }},
        {"countdown off", MenuCommand::setCountdownSeconds, 0, {{"recordCountdown", SettingsValue(int64_t{0})}},
         [](const PublishedState& s) { return s.countdownSeconds == 0; }},
        {"countdown 7 is no choice", MenuCommand::setCountdownSeconds, 7, {},
         [](const PublishedState& s) { return s.countdownSeconds == 0; }},
        {"hide the island", MenuCommand::setShowInNotch, 0, {{"showInNotch", SettingsValue(false)}},
         [](const PublishedState& s) { return !s.showInNotch; }},
        {"show the island", MenuCommand::setShowInNotch, 1, {{"showInNotch", SettingsValue(true)}},
         [](const PublishedState& s) { return s.showInNotch; }},
        {"controls only", MenuCommand::setNotchContent, 1, {{"notchContent", text("Controls Only")}},
         [](const PublishedState& s) { return s.notchContent == NotchContent::controls; }},
        {"when clicked", MenuCommand::setNotchTrigger, 1, {{"notchTrigger", text("When Clicked")}},
         [](const PublishedState& s) { return s.notchTrigger == NotchTrigger::click; }},
        {"trigger out of range", MenuCommand::setNotchTrigger, 5, {},
         [](const PublishedState& s) { return s.notchTrigger == NotchTrigger::hover; }},
        {"quit on close", MenuCommand::setCloseBehavior, 1, {{"closeBehavior", text("Quit Lumenhollow")}},
         [](const PublishedState& s) { return s.closeBehavior == CloseBehavior::quit; }},
        {"keep in the notch", MenuCommand::setCloseBehavior, 0,
         {{"closeBehavior", text("Keep Running in the Notch")}},
         [](const PublishedState& s) { return s.closeBehavior == CloseBehavior::keepInNotch; }},
    };
    for (const ItemsCommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::ModelHarness h;
        h.cameras.setPocketConnected(false);
        CameraModel& model = h.createAndStart();
        h.settings.clearWrites();
        runSettingsCommand(model, c.command, c.value);
        EXPECT_EQ(h.settings.writes(), c.writes);
        EXPECT_TRUE(c.applied(model.state()));
    }
}

TEST(SettingsMenuItems, TheTwoCommandsAskForLooksAndOpenTheFolder) {
    hollowkit::testsupport::TempDir temp;
    test::ModelHarness h;
    h.outputFolder = temp.path() / "Lumenhollow";
    FakeFilePicker picker;
    CameraModelServices services = h.services();
    services.filePicker = &picker;
    h.model = CameraModel::create(services);

    runSettingsCommand(*h.model, MenuCommand::importLUT, 0);
    EXPECT_TRUE(picker.isOpen());
    EXPECT_EQ(picker.requests().size(), 1u);

    runSettingsCommand(*h.model, MenuCommand::openOutputFolder, 0);
    EXPECT_EQ(h.desktop.calls(), (std::vector<std::string>{"open " + h.outputFolder.string()}));
}

}  // namespace
}  // namespace lumenhollow
