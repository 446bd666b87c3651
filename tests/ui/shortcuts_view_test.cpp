#include "lumenhollow/ui/window/shortcuts_view.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "lumenhollow/ui/window/sheet_host.h"
#include "ui_harness.h"

namespace lumenhollow {
namespace {

using test::WindowHarness;

ShortcutsView* shownShortcuts(MainWindow& window) {
    if (window.sheets().shown() != SheetKind::shortcuts) return nullptr;
    return qobject_cast<ShortcutsView*>(window.sheets().card());
}

int leftIn(const QWidget* child, const QWidget* card) {
    return child->mapTo(card, QPoint(0, 0)).x();
}

TEST(ShortcutsViewTest, EveryWayOutClosesTheSheetAndClearsTheFlag) {
    enum class Way { done, returnKey, enterKey, escapeKey, modelCloses };
    const struct {
        const char* name;
        Way way;
    } cases[] = {{"Done", Way::done},
                 {"Return", Way::returnKey},
                 {"Enter", Way::enterKey},
                 {"Escape", Way::escapeKey},
                 {"quit", Way::modelCloses}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h;
        MainWindow& window = h.show();
        h.model->setShowShortcuts(true);
        h.main.runUntilIdle();
        ASSERT_NE(shownShortcuts(window), nullptr);
        QPushButton* done = window.sheets().button("Done");
        ASSERT_NE(done, nullptr);
        EXPECT_TRUE(done->isDefault());
        QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : &window;
        switch (c.way) {
            case Way::done: QTest::mouseClick(done, Qt::LeftButton); break;
            case Way::returnKey: QTest::keyClick(focus, Qt::Key_Return); break;
            case Way::enterKey: QTest::keyClick(focus, Qt::Key_Enter); break;
            case Way::escapeKey: QTest::keyClick(focus, Qt::Key_Escape); break;
            case Way::modelCloses: h.model->afterClosingSheets(); break;
        }
        h.main.runUntilIdle();
        EXPECT_FALSE(h.state().showShortcuts);
        EXPECT_FALSE(window.sheets().shown());
        EXPECT_TRUE(h.commands().empty()) << "the sheet performs none of the shortcuts";
    }
}

TEST(ShortcutsViewTest, ActionTextsShareOneEdgeAndTheCardKeepsItsWidthInAnyWindow) {
    const QSize windows[] = {{1280, 900}, {900, 760}, {1600, 1000}};
    for (const QSize& size : windows) {
        SCOPED_TRACE(testing::PrintToString(std::pair(size.width(), size.height())));
        WindowHarness h;
        MainWindow& window = h.show();
        window.resize(size);
        h.model->setShowShortcuts(true);
        h.main.runUntilIdle();
        ShortcutsView* view = shownShortcuts(window);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->width(), ShortcutsView::kWidth);
        EXPECT_GE(view->y(), 0);
        EXPECT_LE(view->geometry().bottom(), window.sheets().height()) << "the whole card shows";

        ASSERT_EQ(view->chips().size(), 15u);
        ASSERT_EQ(view->actions().size(), 15u);
        const int chipLeft = leftIn(view->chips().front(), view);
        const int actionLeft = leftIn(view->actions().front(), view);
        EXPECT_EQ(chipLeft, ShortcutsView::kPadding);
        EXPECT_GE(actionLeft - chipLeft, 96 + ShortcutsView::kRowSpacing);
        for (size_t i = 0; i < view->chips().size(); ++i) {
            const QLabel* chip = view->chips()[i];
            const QLabel* action = view->actions()[i];
            SCOPED_TRACE(chip->text().toStdString());
            EXPECT_EQ(leftIn(chip, view), chipLeft);
            EXPECT_EQ(leftIn(action, view), actionLeft);
            EXPECT_LE(leftIn(chip, view) + chip->width() + ShortcutsView::kRowSpacing, actionLeft) << "no overlap";
            EXPECT_GE(chip->width(), chip->sizeHint().width()) << "the chip is not cut";
            EXPECT_LE(leftIn(action, view) + action->width(), view->width() - ShortcutsView::kPadding);
        }
    }
}

}  // namespace
}  // namespace lumenhollow
