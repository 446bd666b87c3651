#include "lumenhollow/ui/window/sheet_card.h"

#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include "lumenhollow/ui/window/sheet_host.h"
#include "ui_harness.h"

namespace lumenhollow {
namespace {

using test::WindowHarness;

TEST(SheetCardTest, TheCardIsCentredAndNeverLargerThanTheWindow) {
    // A card whose text wraps: the narrower, the taller.
    const auto wrapping = [](int width) { return 200'000 / width; };
    const struct {
        const char* name;
        QSize area;
        int wanted;
        QRect place;
    } cases[] = {
        {"room for all of it", {1152, 648}, 460, {346, 107, 460, 434}},
        {"a narrow window takes the width it has", {420, 900}, 460, {12, 197, 396, 505}},
        {"a short window cuts the height, not the top", {760, 428}, 460, {150, 12, 460, 404}},
        {"both at once", {300, 200}, 460, {12, 12, 276, 176}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QRect place = sheetCardRect(c.area, c.wanted, wrapping);
        // The height follows the width the card gets.
        EXPECT_EQ(place, c.place);
    }
}

// The sheets at the smallest window: content too tall scrolls, by the keys
// the sheet holds, while the buttons stay where they are.
TEST(SheetCardTest, AShortWindowScrollsTheContentAndKeepsTheButtons) {
    const struct {
        const char* name;
        SheetKind kind;
        const char* button;
        bool scrollsAtMinimum;
    } cases[] = {
        {"welcome", SheetKind::welcome, "Get Started", true},
        {"shortcuts", SheetKind::shortcuts, "Done", true},
        {"USB guide", SheetKind::usbGuide, "Not Now", false},
        {"alert", SheetKind::screenRecordingAlert, "Cancel", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h(false);
        MainWindow& window = h.show();
        const QSize roomy(1280, 800);
        window.resize(roomy);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.size() == roomy; }, 5000));
        window.sheets().present(c.kind);
        SheetCard* card = window.sheets().card();
        ASSERT_NE(card, nullptr);
        EXPECT_FALSE(card->scrolls()) << "a roomy window shows the whole card";
        EXPECT_EQ(card->height(), card->naturalHeight(card->width()));

        const QSize minimum(760, 428);
        window.resize(minimum);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.size() == minimum; }, 5000));
        const QRect inWindow(card->mapTo(&window, QPoint(0, 0)), card->size());
        EXPECT_TRUE(window.rect().adjusted(SheetHost::kCardMargin, SheetHost::kCardMargin, -SheetHost::kCardMargin,
                                           -SheetHost::kCardMargin)
                        .contains(inWindow));
        EXPECT_EQ(card->scrolls(), c.scrollsAtMinimum);
        QPushButton* button = window.sheets().button(c.button);
        ASSERT_NE(button, nullptr);
        const QPoint buttonAt = button->mapTo(&window, QPoint(0, 0));
        EXPECT_LE(buttonAt.y() + button->height(), inWindow.bottom()) << "the button shows whole";

        QScrollBar& bar = *card->scroller().verticalScrollBar();
        ASSERT_EQ(bar.value(), 0);
        QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : &window;
        QTest::keyClick(focus, Qt::Key_End);
        EXPECT_EQ(bar.value(), bar.maximum());
        if (c.scrollsAtMinimum) {
            EXPECT_GT(bar.value(), 0);
            QTest::keyClick(focus, Qt::Key_Up);
            EXPECT_LT(bar.value(), bar.maximum());
            QTest::keyClick(focus, Qt::Key_PageUp);
            QTest::keyClick(focus, Qt::Key_Home);
            EXPECT_EQ(bar.value(), 0);
        }
        EXPECT_EQ(button->mapTo(&window, QPoint(0, 0)), buttonAt) << "the buttons never scroll";
        EXPECT_EQ(window.sheets().shown(), c.kind) << "scrolling keys close nothing";
    }
}

}  // namespace
}  // namespace lumenhollow
