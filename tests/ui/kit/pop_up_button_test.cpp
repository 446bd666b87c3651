#include "lumenhollow/ui/kit/pop_up_button.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

namespace lumenhollow::ui {
namespace {

// A pop-up keeps the width of its widest option whatever it shows, opens its
// menu on a press or a key, and a row chosen there is shown, checked and told.
TEST(PopUpButton, OpensOnAPressOrAKeyAndShowsTheChosenRow) {
    QWidget window;
    window.resize(300, 200);
    const QStringList options{QStringLiteral("As on Camera"), QStringLiteral("4K"), QStringLiteral("1080p 9:16")};
    auto* picker = new PopUpButton(QStringLiteral("Resolution"), options, &window);
    picker->move(20, 20);
    picker->resize(picker->sizeHint());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(picker->accessibleName(), QStringLiteral("Resolution"));
    EXPECT_EQ(picker->text(), options[0]);

    const int width = picker->sizeHint().width();
    QMenu* menu = picker->menu();
    QSignalSpy activated(picker, &PopUpButton::activated);
    const auto checkedRows = [&] {
        QList<int> rows;
        for (int i = 0; i < menu->actions().size(); ++i)
            if (menu->actions()[i]->isChecked()) rows.append(i);
        return rows;
    };
    const struct {
        const char* how;
        int row;
    } cases[] = {{"a press", 2}, {"Space", 1}, {"a press again", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        if (std::string(c.how) == "Space") {
            picker->setFocus();
            QTest::keyClick(window.windowHandle(), Qt::Key_Space);
        } else {
            QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, picker->geometry().center());
        }
        ASSERT_TRUE(menu->isVisible());
        EXPECT_EQ(checkedRows(), QList<int>{picker->currentIndex()});
        QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {},
                          menu->actionGeometry(menu->actions().at(c.row)).center());
        EXPECT_FALSE(menu->isVisible());
        ASSERT_EQ(activated.size(), 1);
        EXPECT_EQ(activated.takeFirst().at(0).toInt(), c.row);
        EXPECT_EQ(picker->text(), options[c.row]);
        EXPECT_EQ(checkedRows(), QList<int>{c.row});
        EXPECT_EQ(picker->sizeHint().width(), width) << "the face keeps its width";
    }
    // Set by its owner, the row shows without a signal.
    picker->setCurrentIndex(1);
    EXPECT_EQ(picker->text(), options[1]);
    EXPECT_TRUE(activated.isEmpty());
}

}  // namespace
}  // namespace lumenhollow::ui
