// The application's start-up gives it the look its reference pictures are
// taken in: the kit's style, the dark palette down to the tooltips, and Inter
// in every widget that takes the application's font.

#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QPushButton>
#include <QToolTip>

#include <gtest/gtest.h>

#include <memory>

#include "lumenhollow/app/application.h"
#include "lumenhollow/ui/kit/menu_style.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow {
namespace {

TEST(ApplicationLookTest, StartUpGivesTheKitsStylePaletteAndType) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    prepareApplication(*app);

    EXPECT_NE(dynamic_cast<ui::MenuStyle*>(QApplication::style()), nullptr) << "the kit's menu style";
    const QPalette kit = ui::darkPalette();
    for (const auto role : {QPalette::ToolTipBase, QPalette::ToolTipText}) {
        SCOPED_TRACE(role);
        EXPECT_EQ(QToolTip::palette().color(role), kit.color(role)) << "tooltips";
        EXPECT_EQ(QApplication::palette().color(role), kit.color(role));
    }
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), kit.color(QPalette::Window));

    auto menu = std::make_unique<QMenu>();
    auto button = std::make_unique<QPushButton>(QStringLiteral("Done"));
    auto dialog = std::make_unique<QDialog>();
    const std::pair<const char*, QWidget*> widgets[] = {
        {"the application", nullptr}, {"a menu", menu.get()}, {"a button", button.get()}, {"a dialog", dialog.get()}};
    for (const auto& [name, widget] : widgets) {
        SCOPED_TRACE(name);
        const QFont font = widget ? widget->font() : QApplication::font();
        EXPECT_EQ(font.family(), QString::fromUtf8(ui::kTextFontFamily));
    }
}

}  // namespace
}  // namespace lumenhollow
