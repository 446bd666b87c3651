#pragma once

// Every segmented picker under a window read and pressed as a screen reader
// does: a named group with one radio button per segment, each named, exactly
// one checked and it is the one shown, each at its segment's place; and the
// press action on another segment leaves the picker, its neighbours and the
// owner's model as a mouse press at that segment in the top-level window does.

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleInterface>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "lumenhollow/ui/kit/segmented_control.h"
#include "unnamed_controls.h"

namespace lumenhollow::test {

namespace detail {

inline QAccessibleInterface* segmentOf(ui::SegmentedControl& picker, int index) {
    QAccessibleInterface* group = QAccessible::queryAccessibleInterface(&picker);
    return group ? group->child(index) : nullptr;
}

inline void pressSegmentByAction(ui::SegmentedControl& picker, int index) {
    QAccessibleInterface* segment = segmentOf(picker, index);
    QAccessibleActionInterface* actions = segment ? segment->actionInterface() : nullptr;
    ASSERT_NE(actions, nullptr) << "segment " << index << " has no actions";
    ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
    actions->doAction(QAccessibleActionInterface::pressAction());
}

inline void pressSegmentByMouse(ui::SegmentedControl& picker, int index) {
    const std::vector<QRectF> rects = ui::segmentRects(picker.size(), picker.count());
    ASSERT_LT(static_cast<size_t>(index), rects.size());
    QWidget* top = picker.window();
    const QPoint at = picker.mapTo(top, rects[static_cast<size_t>(index)].center().toPoint());
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, at);
}

}  // namespace detail

// Walks the visible pickers under `root`; `settle` lets the owners answer a
// choice, `modelState` says what they wrote. Returns how many were walked.
inline int expectSegmentedPickersReachable(QWidget& root, const std::function<void()>& settle,
                                           const std::function<std::string()>& modelState) {
    std::vector<ui::SegmentedControl*> pickers;
    for (ui::SegmentedControl* picker : root.findChildren<ui::SegmentedControl*>()) {
        if (picker->isVisibleTo(&root)) pickers.push_back(picker);
    }
    // What a choice can change: every picker's choice and whether it shows, and the model.
    const auto snapshot = [&] {
        std::string seen;
        for (const ui::SegmentedControl* picker : pickers) {
            seen += std::to_string(picker->currentIndex()) + (picker->isVisibleTo(&root) ? "+ " : "- ");
        }
        return seen + modelState();
    };
    for (ui::SegmentedControl* picker : pickers) {
        SCOPED_TRACE(describeWidget(picker));
        QAccessibleInterface* group = QAccessible::queryAccessibleInterface(picker);
        if (group == nullptr) {
            ADD_FAILURE() << "no accessible interface";
            continue;
        }
        EXPECT_EQ(group->role(), QAccessible::Grouping);
        EXPECT_TRUE(saysSomething(group->text(QAccessible::Name)));
        EXPECT_EQ(group->text(QAccessible::Name), picker->accessibleName());
        EXPECT_EQ(group->childCount(), picker->count());
        const std::vector<QRectF> rects = ui::segmentRects(picker->size(), picker->count());
        std::vector<int> checked;
        for (int i = 0; i < std::min(group->childCount(), picker->count()); ++i) {
            QAccessibleInterface* segment = group->child(i);
            if (segment == nullptr) {
                ADD_FAILURE() << "no segment " << i;
                continue;
            }
            EXPECT_EQ(segment->role(), QAccessible::RadioButton) << i;
            EXPECT_TRUE(saysSomething(segment->text(QAccessible::Name))) << i;
            EXPECT_EQ(segment->text(QAccessible::Name),
                      ui::segmentName(picker->segmentTitle(i), picker->segmentHelp(i)))
                << i;
            EXPECT_EQ(segment->parent(), group) << i;
            EXPECT_EQ(group->indexOfChild(segment), i);
            const QRect place = rects[static_cast<size_t>(i)].toAlignedRect().translated(picker->mapToGlobal(QPoint()));
            EXPECT_EQ(segment->rect(), place) << i;
            EXPECT_EQ(group->childAt(place.center().x(), place.center().y()), segment) << i;
            EXPECT_TRUE(segment->state().checkable) << i;
            if (segment->state().checked) checked.push_back(i);
        }
        EXPECT_EQ(checked, std::vector<int>{picker->currentIndex()}) << "exactly the shown choice is checked";

        if (picker->count() < 2 || picker->currentIndex() < 0) continue;
        const int from = picker->currentIndex();
        const int to = (from + 1) % picker->count();
        const std::string before = snapshot();
        detail::pressSegmentByAction(*picker, to);
        settle();
        const std::string byAction = snapshot();
        EXPECT_EQ(picker->currentIndex(), to) << "the press action chose nothing";
        EXPECT_TRUE(detail::segmentOf(*picker, to) && detail::segmentOf(*picker, to)->state().checked);
        detail::pressSegmentByMouse(*picker, from);
        settle();
        EXPECT_EQ(snapshot(), before) << "a click back";
        detail::pressSegmentByMouse(*picker, to);
        settle();
        EXPECT_EQ(snapshot(), byAction) << "a click does what the press action did";
        detail::pressSegmentByAction(*picker, from);
        settle();
        EXPECT_EQ(snapshot(), before) << "the press action back";
    }
    return static_cast<int>(pickers.size());
}

}  // namespace lumenhollow::test
