#include "lumenhollow/ui/kit/popover_scroll_area.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

#include <functional>
#include <memory>

namespace lumenhollow::ui {
namespace {

// Content as the popovers build it: a group of rows, one of which comes and
// goes with the settings, and a wrapped footer, in a scrolling part with
// the sides' padding inside it. Standing alone, never in a popover.
struct ScrollingContent {
    static constexpr int kWidth = 340;
    static constexpr int kPadding = 14;
    QWidget panel;
    QWidget* rows = new QWidget(&panel);
    QWidget* group = new QWidget(rows);
    QWidget* optional = new QWidget(group);
    PopoverScrollArea* area = nullptr;

    ScrollingContent() {
        panel.setAttribute(Qt::WA_DontShowOnScreen);
        panel.setFixedWidth(kWidth);
        auto* column = new QVBoxLayout(rows);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(6);
        auto* groupRows = new QVBoxLayout(group);
        for (int row = 0; row < 3; ++row) {
            auto* line = new QWidget(group);
            line->setFixedHeight(32);
            groupRows->addWidget(line);
        }
        optional->setFixedHeight(44);
        groupRows->addWidget(optional);
        column->addWidget(group);
        auto* footer = new QLabel(QStringLiteral("A footer long enough to wrap onto a second line at the width "
                                                 "the rows have inside the popover's padding."),
                                  rows);
        footer->setWordWrap(true);
        column->addWidget(footer);
        auto* outer = new QVBoxLayout(&panel);
        outer->setContentsMargins(0, kPadding, 0, kPadding);
        area = new PopoverScrollArea(rows, kWidth, kPadding, [] { return 2 * kPadding; }, &panel);
        outer->addWidget(area);
    }
    // The rows' height once shown and laid out.
    int laidOutRowsHeight() {
        panel.show();
        for (int round = 0; round < 4; ++round) QCoreApplication::processEvents();
        return rows->height();
    }
};

// The part's height, fitted before the content is first shown (as a panel
// fits itself while it is built), is the rows' own once they are laid out:
// a row hidden or shown again before then leaves no room behind and takes
// its own, and outside a popover nothing is cut short.
TEST(PopoverScrollAreaTest, FittedBeforeItIsShownItTakesTheRowsLaidOutHeight) {
    const struct {
        const char* name;
        std::function<void(ScrollingContent&)> change;
    } cases[] = {
        {"as built", [](ScrollingContent&) {}},
        {"a row hidden", [](ScrollingContent& c) { c.optional->hide(); }},
        {"a row hidden, then shown again",
         [](ScrollingContent& c) {
             c.optional->hide();
             c.area->fitToRoom();
             c.optional->show();
         }},
        {"a row grown", [](ScrollingContent& c) { c.optional->setFixedHeight(90); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScrollingContent content;
        content.area->fitToRoom();
        c.change(content);
        content.area->fitToRoom();
        const int fitted = content.area->minimumHeight();
        EXPECT_EQ(content.panel.sizeHint().height(), fitted + 2 * ScrollingContent::kPadding);
        EXPECT_EQ(fitted, content.laidOutRowsHeight());
    }
}

}  // namespace
}  // namespace lumenhollow::ui
