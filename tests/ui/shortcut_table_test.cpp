#include "lumenhollow/ui/window/shortcut_table.h"

#include <gtest/gtest.h>

#include "lumenhollow/ui/kit/shortcuts.h"

namespace lumenhollow {
namespace {

QKeySequence parsed(const std::string& text) {
    return QKeySequence::fromString(QString::fromStdString(text), QKeySequence::NativeText);
}

TEST(ShortcutTableTest, EveryRowNamesTheKeyThatReallyWorks) {
    const std::vector<ShortcutSection>& sections = shortcutSections();
    const struct {
        const char* title;
        size_t rows;
    } expectedSections[] = {{"Capture", 5}, {"Gimbal", 6}, {"Framing", 2}, {"Scenes", 2}};
    ASSERT_EQ(sections.size(), std::size(expectedSections));
    for (size_t i = 0; i < sections.size(); ++i) {
        EXPECT_EQ(sections[i].title, expectedSections[i].title);
        EXPECT_EQ(sections[i].items.size(), expectedSections[i].rows) << sections[i].title;
    }

    // An empty sequence: the row names a mouse gesture or a group of keys, given as text.
    const struct {
        size_t section;
        size_t row;
        QKeySequence sequence;
        const char* keys;
        const char* action;
    } rows[] = {
        {0, 0, ui::recordShortcut(), nullptr, "Record: start or stop"},
        {0, 1, ui::recordScreenShortcut(), nullptr, "Record the screen too: on or off"},
        {0, 2, ui::photoShortcut(), nullptr, "Snapshot: take a photo"},
        {0, 3, QKeySequence(Qt::Key_Escape), nullptr, "Cancel the countdown"},
        {0, 4, ui::outputFolderShortcut(), nullptr, "Open the output folder"},
        {1, 0, {}, "\u2190 \u2191 \u2192 \u2193", "Move the gimbal"},
        {1, 1, QKeySequence(Qt::Key_C), nullptr, "Center the gimbal"},
        {1, 2, ui::flipShortcut(), nullptr, "Flip to face you"},
        {1, 3, {}, "Drag", "Aim by dragging the preview"},
        {1, 4, {}, "+  \u2212", "Zoom in and out"},
        {1, 5, {}, "Scroll", "Zoom on the preview"},
        {2, 0, ui::faceTrackingShortcut(), nullptr, "Tracking: follow your face"},
        {2, 1, ui::autoFrameShortcut(), nullptr, "Frame: auto frame once"},
        {3, 0, ui::saveSceneShortcut(), nullptr, "Save the current position as a scene"},
    };
    for (const auto& r : rows) {
        const ShortcutItem& item = sections.at(r.section).items.at(r.row);
        SCOPED_TRACE(item.keys);
        EXPECT_EQ(item.action, r.action);
        if (r.keys) {
            EXPECT_EQ(item.keys, r.keys);
        } else {
            EXPECT_EQ(parsed(item.keys), r.sequence);
            EXPECT_EQ(item.keys.find("\u2318"), std::string::npos) << "no key this desktop lacks";
        }
    }

    // The recall row spans the first and the last scene's keys.
    const ShortcutItem& recall = sections.at(3).items.at(1);
    EXPECT_EQ(recall.action, "Go to scene 1 to 9");
    const std::string between = " \u2026 ";
    const size_t split = recall.keys.find(between);
    ASSERT_NE(split, std::string::npos) << recall.keys;
    EXPECT_EQ(parsed(recall.keys.substr(0, split)), QKeySequence(Qt::ALT | Qt::Key_1));
    EXPECT_EQ(parsed(recall.keys.substr(split + between.size())), QKeySequence(Qt::ALT | Qt::Key_9));
}

TEST(ShortcutTableTest, ChipsShowArrowsAndMinusAsGlyphsOnlyWhenPressedAlone) {
    const struct {
        QKeySequence sequence;
        const char* glyph;  // null: the desktop's own name, which reads back as the sequence
    } cases[] = {
        {QKeySequence(Qt::Key_Left), "\u2190"},
        {QKeySequence(Qt::Key_Down), "\u2193"},
        {QKeySequence(Qt::Key_Minus), "\u2212"},
        {QKeySequence(Qt::Key_Plus), "+"},
        {QKeySequence(Qt::CTRL | Qt::Key_Minus), nullptr},
        {QKeySequence(Qt::SHIFT | Qt::Key_Left), nullptr},
        {QKeySequence(Qt::Key_C), "C"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sequence.toString().toStdString());
        const std::string text = keyChipText(c.sequence);
        if (c.glyph) {
            EXPECT_EQ(text, c.glyph);
        } else {
            EXPECT_EQ(parsed(text), c.sequence);
        }
    }
}

TEST(ShortcutTableTest, TheKeyColumnHoldsTheWidestChip) {
    const struct {
        std::vector<int> chips;
        int column;
    } cases[] = {
        {{}, 96},
        {{40, 60, 95}, 96},
        {{96}, 96},
        {{40, 97, 60}, 97},
        {{130, 104}, 130},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shortcutKeyColumnWidth(c.chips), c.column) << ::testing::PrintToString(c.chips);
    }
}

}  // namespace
}  // namespace lumenhollow
