// What the screen-recording button and panel show for each combination of
// the model's state: one table for the panel's items, one for the button,
// and the take's label from its creation time or its folder's name.

#include <gtest/gtest.h>

#include "hollowkit/testing/test_support.h"
#include "lumenhollow/ui/panels/screen_recording_state.h"

namespace lumenhollow {
namespace {

using hollowkit::BubbleShape;

const QString kMacMicNote = "Over Wi-Fi your voice comes from the Mac microphone chosen at the top left.";
const QString kNoMicNote = "The Mac microphone is off, so this take will have no voice. Turn it on at the top left.";

TEST(ScreenRecordingStateTest, ThePanelShowsEachItemOnlyWhenItsConditionHolds) {
    struct Case {
        const char* name;
        ScreenPanelFacts facts;
        ScreenPanelState expected;
    };
    const auto facts = [](auto change) {
        ScreenPanelFacts f;
        change(f);
        return f;
    };
    const auto state = [](auto change) {
        ScreenPanelState s;
        s.optionsEnabled = false;
        s.optionsOpacity = 0.5;
        change(s);
        return s;
    };
    const Case cases[] = {
        {"off, no take, USB: the options wait dimmed", facts([](auto&) {}), state([](auto&) {})},
        {"on: the options are live", facts([](auto& f) { f.recordScreen = true; }),
         state([](auto& s) { s.optionsEnabled = true, s.optionsOpacity = 1; })},
        {"off with a take: the options stay live for Apply Changes",
         facts([](auto& f) { f.hasLastTake = true; }),
         state([](auto& s) { s.optionsEnabled = true, s.optionsOpacity = 1; })},
        {"a take with both movies: the rebuild block",
         facts([](auto& f) { f.hasLastTake = true, f.lastTakeHasBothMovies = true; }),
         state([](auto& s) { s.optionsEnabled = true, s.optionsOpacity = 1, s.showRebuild = true; })},
        {"the block waits while busy",
         facts([](auto& f) { f.hasLastTake = true, f.lastTakeHasBothMovies = true, f.busy = true; }),
         state([](auto& s) {
             s.optionsEnabled = true, s.optionsOpacity = 1, s.showRebuild = true, s.rebuildEnabled = false;
         })},
        {"both movies but no take named: no block", facts([](auto& f) { f.lastTakeHasBothMovies = true; }),
         state([](auto&) {})},
        {"access denied: the card", facts([](auto& f) { f.accessGranted = false; }),
         state([](auto& s) { s.showPermissionCard = true; })},
        {"cut-out: the caption in place of the Background picker",
         facts([](auto& f) { f.shape = BubbleShape::cutout; }), state([](auto& s) { s.showBackgroundPicker = false; })},
        {"one display: no menu", facts([](auto& f) { f.displayCount = 1; }), state([](auto&) {})},
        {"two displays: the menu", facts([](auto& f) { f.displayCount = 2; }),
         state([](auto& s) { s.showDisplayMenu = true; })},
        {"USB using the computer's microphone: still no note", facts([](auto& f) { f.usesMacMicrophone = true; }),
         state([](auto&) {})},
        {"Wi-Fi with the computer's microphone", facts([](auto& f) {
             f.connection = ConnectionMode::wireless, f.usesMacMicrophone = true;
         }),
         state([](auto& s) { s.microphoneNote = MicrophoneNote{"mic", kMacMicNote}; })},
        {"Wi-Fi with the microphone off", facts([](auto& f) { f.connection = ConnectionMode::wireless; }),
         state([](auto& s) { s.microphoneNote = MicrophoneNote{"mic.slash", kNoMicNote}; })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScreenPanelState shown = screenPanel(c.facts);
        EXPECT_EQ(shown.showPermissionCard, c.expected.showPermissionCard);
        EXPECT_EQ(shown.optionsEnabled, c.expected.optionsEnabled);
        EXPECT_DOUBLE_EQ(shown.optionsOpacity, c.expected.optionsOpacity);
        EXPECT_EQ(shown.showBackgroundPicker, c.expected.showBackgroundPicker);
        EXPECT_EQ(shown.showDisplayMenu, c.expected.showDisplayMenu);
        EXPECT_EQ(shown.microphoneNote.has_value(), c.expected.microphoneNote.has_value());
        if (shown.microphoneNote && c.expected.microphoneNote) {
            EXPECT_EQ(shown.microphoneNote->symbol, c.expected.microphoneNote->symbol);
            EXPECT_EQ(shown.microphoneNote->text.toStdString(), c.expected.microphoneNote->text.toStdString());
        }
        EXPECT_EQ(shown.showRebuild, c.expected.showRebuild);
        EXPECT_EQ(shown.rebuildEnabled, c.expected.rebuildEnabled);
    }
}

TEST(ScreenRecordingStateTest, TheButtonWaitsWhileBusyAndFadesOnlyWhenOff) {
    const struct {
        bool recordScreen;
        bool busy;
        ScreenRecordingButtonState expected;
    } cases[] = {
        {false, false, {"rectangle.inset.bottomright.filled", false, true, 1}},
        {true, false, {"inset.filled.bottomright.rectangle", true, true, 1}},
        {false, true, {"rectangle.inset.bottomright.filled", false, false, 0.45}},
        {true, true, {"inset.filled.bottomright.rectangle", true, false, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "on " << c.recordScreen << " busy " << c.busy);
        EXPECT_EQ(screenRecordingButton(c.recordScreen, c.busy), c.expected);
    }
}

TEST(ScreenRecordingStateTest, TheDisplayMenuStartsWithTheMainDisplayThenListsDisplaysInOrder) {
    EXPECT_EQ(displayMenuItems({}), (std::vector<DisplayMenuItem>{{"Main Display", std::nullopt}}));
    const std::vector<hollowkit::ScreenDisplay> displays{{7, "DELL U2720Q", {}}, {3, "Built-in Display", {}}};
    EXPECT_EQ(displayMenuItems(displays),
              (std::vector<DisplayMenuItem>{{"Main Display", std::nullopt}, {"DELL U2720Q", 7u},
                                            {"Built-in Display", 3u}}));
}

TEST(ScreenRecordingStateTest, TheTakeLabelNamesTheDayByCalendarDateOrFallsBackToTheFolderName) {
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QDateTime now(QDate(2025, 3, 4), QTime(0, 1));
    const struct {
        const char* folder;
        std::optional<QDateTime> created;
        QString expected;
    } cases[] = {
        {"Lumenhollow Screen Recording 2025-03-04 at 00.00.30", QDateTime(QDate(2025, 3, 4), QTime(0, 0, 30)),
         "Today at 12:00 AM"},
        // Two minutes ago, but before midnight: a day by the calendar, not by 24 hours.
        {"t", QDateTime(QDate(2025, 3, 3), QTime(23, 59)), "Yesterday at 11:59 PM"},
        {"t", QDateTime(QDate(2025, 3, 3), QTime(0, 2)), "Yesterday at 12:02 AM"},
        {"t", QDateTime(QDate(2025, 3, 2), QTime(23, 59)), "Mar 2, 2025 at 11:59 PM"},
        {"t", QDateTime(QDate(2024, 12, 25), QTime(14, 5)), "Dec 25, 2024 at 2:05 PM"},
        {"Lumenhollow Screen Recording 2025-03-04 at 14.05.12", std::nullopt, "2025-03-04 at 14.05.12"},
        {"Lumenhollow Screen Recording 2025-03-04 at 14.05.12", QDateTime(), "2025-03-04 at 14.05.12"},
        {"My demo", std::nullopt, "My demo"},
        {"Copy of Lumenhollow Screen Recording Lumenhollow Screen Recording 1", std::nullopt, "Copy of 1"},
        {"Lumenhollow Screen Recording", std::nullopt, "Lumenhollow Screen Recording"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const QString label = lastTakeLabel(std::filesystem::path("/videos") / c.folder, c.created, now, us);
        // The locale may put a narrow space before AM/PM.
        EXPECT_EQ(QString(label).replace(QChar(0x202F), QLatin1Char(' ')).toStdString(), c.expected.toStdString());
    }
    EXPECT_EQ(lastTakeLabel("/videos/Lumenhollow Screen Recording x/", std::nullopt, now, us).toStdString(), "x");
}

TEST(ScreenRecordingStateTest, AFolderThatIsGoneHasNoCreationTime) {
    hollowkit::testsupport::TempDir dir;
    EXPECT_FALSE(folderCreationTime(dir.path() / "gone").has_value());
    // Where the file system keeps birth times, a new folder's is now-ish.
    if (const std::optional<QDateTime> born = folderCreationTime(dir.path())) {
        EXPECT_LT(std::abs(born->secsTo(QDateTime::currentDateTime())), 600);
    }
}

}  // namespace
}  // namespace lumenhollow
