#include "lumenhollow/ui/kit/popover.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <vector>

namespace lumenhollow::ui {
namespace {

TEST(PopoverPlacementTest, OpensBesideTheAnchorWithItsArrowOnItAndStaysOnScreen) {
    const QRect screen(0, 0, 1000, 800);
    using E = PopoverEdge;
    const struct {
        const char* name;
        QRect anchor;
        QSize size;
        PopoverEdge asked;
        QPoint topLeft;
        PopoverEdge edge;
        int arrowAt;
        bool overAnchor = false;
    } cases[] = {
        {"below, centred", {100, 100, 80, 30}, {200, 150}, E::below, {40, 136}, E::below, 100},
        {"none counts as below", {100, 100, 80, 30}, {200, 150}, E::none, {40, 136}, E::below, 100},
        {"above, centred", {400, 700, 80, 30}, {340, 300}, E::above, {270, 394}, E::above, 170},
        {"above without room opens below", {400, 20, 80, 30}, {200, 100}, E::above, {340, 56}, E::below, 100},
        {"below without room opens above", {400, 750, 80, 30}, {200, 100}, E::below, {340, 644}, E::above, 100},
        {"leading, centred on the anchor", {500, 300, 34, 34}, {380, 200}, E::leading, {114, 217}, E::leading, 100},
        {"leading without room opens after", {100, 300, 34, 34}, {380, 200}, E::leading, {140, 217}, E::trailing,
         100},
        {"pushed in from the right, the arrow off the corner", {980, 100, 20, 30}, {300, 100}, E::below, {700, 136},
         E::below, 300 - 21},
        {"pushed in from the left, the arrow off the corner", {0, 100, 40, 30}, {300, 100}, E::below, {0, 136},
         E::below, 21},
        {"pushed up from the bottom beside the anchor", {900, 760, 34, 34}, {300, 200}, E::leading, {594, 600},
         E::leading, 177},
        {"too narrow for corners: the arrow in the middle", {0, 100, 10, 30}, {40, 60}, E::below, {0, 136}, E::below,
         20},
        {"no room above or below: beside the anchor, never over it", {400, 350, 80, 30}, {200, 500}, E::below,
         {486, 115}, E::trailing, 250},
        {"no room above, below or after: before the anchor", {700, 350, 80, 30}, {300, 500}, E::above, {394, 115},
         E::leading, 250},
        {"no room beside: above or below", {480, 20, 34, 34}, {600, 200}, E::leading, {197, 60}, E::below, 300},
        {"no room on any side: below, pushed over the anchor", {400, 350, 80, 30}, {900, 500}, E::below,
         {0, 300}, E::below, 440, true},
    };
    for (const auto& c : cases) {
        const PopoverPlacement placed = placePopover(c.anchor, c.size, c.asked, screen);
        EXPECT_EQ(placed.frame.topLeft(), c.topLeft) << c.name;
        EXPECT_EQ(placed.frame.size(), c.size) << c.name;
        EXPECT_EQ(placed.edge, c.edge) << c.name;
        EXPECT_EQ(placed.arrowAt, c.arrowAt) << c.name;
        EXPECT_TRUE(screen.contains(placed.frame)) << c.name;
        EXPECT_EQ(placed.frame.intersects(c.anchor), c.overAnchor) << c.name;
    }
    // On the smallest screen no side holds the screen-recording options
    // whole, nor leaves their button uncovered with the arrow: beside it
    // without the arrow, pulled onto the screen.
    const QRect anchor(363, 308, 40, 40);
    const PopoverPlacement small = placePopover(anchor, {360, 323}, E::above, {0, 0, 760, 428}, 8);
    EXPECT_EQ(small.edge, E::leading);
    EXPECT_FALSE(small.arrow);
    EXPECT_EQ(small.frame, QRect(0, 105, 360, 323));
    // With room for the arrow beside it, the arrow stays.
    const PopoverPlacement roomier = placePopover(anchor.translated(20, 0), {360, 323}, E::above, {0, 0, 760, 428}, 8);
    EXPECT_EQ(roomier.edge, E::leading);
    EXPECT_TRUE(roomier.arrow);
    EXPECT_EQ(roomier.frame, QRect(9, 105, 368, 323));
    EXPECT_FALSE(roomier.frame.intersects(anchor.translated(20, 0)));
    // On a second screen the same rules hold in its own coordinates.
    const PopoverPlacement right = placePopover({1010, 100, 20, 30}, {200, 100}, E::below, {1000, 0, 1000, 800});
    EXPECT_EQ(right.frame.topLeft(), QPoint(1000, 136));
    EXPECT_EQ(right.arrowAt, 21);
}

// The tallest body that opens without covering its anchor: the whole
// screen's height where it fits beside the anchor, else the room above or
// below it, whichever is larger.
TEST(PopoverPlacementTest, TheBodysRoomIsTheScreensHeightBesideTheAnchorElseAboveOrBelowIt) {
    const QRect smallest(0, 0, 760, 428);
    const QRect upright(0, 0, 428, 760);
    const int arrow = Popover::kArrowLength;
    const int gap = Popover::kGap;
    const struct {
        const char* name;
        QRect anchor;
        int width;
        QRect screen;
        int arrow;
        int room;
    } cases[] = {
        {"room on the left of the scenes pill", {430, 62, 120, 30}, 380, smallest, arrow, 428},
        {"room on the right", {20, 300, 40, 40}, 380, smallest, arrow, 428},
        {"no side holds it: the room above a bottom button", {194, 600, 40, 40}, 360, upright, arrow,
         600 - gap - arrow},
        {"no side holds it: the room below a top button", {194, 40, 40, 40}, 360, upright, arrow,
         760 - 80 - gap - arrow},
        {"without an arrow", {194, 600, 40, 40}, 360, upright, 0, 600 - gap},
        {"a screen off to the right", {1600, 600, 40, 40}, 360, {1512, 0, 428, 760}, arrow, 600 - gap - arrow},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(popoverBodyRoom(c.anchor, c.width, c.screen, c.arrow), c.room) << c.name;
    }
}

// The arrow's tip touches the side facing the anchor at arrowAt; the
// corners are cut round; without an arrow that side is straight.
TEST(PopoverPlacementTest, TheOutlineCarriesTheArrowOnTheSideFacingTheAnchor) {
    const QRectF rect(0, 0, 200, 100);
    const struct {
        PopoverEdge edge;
        QPointF nearTip;     // just inside the tip
        QPointF besideTip;   // as far out, beside the arrow
    } cases[] = {
        {PopoverEdge::below, {60, 1.5}, {100, 1.5}},
        {PopoverEdge::above, {60, 98.5}, {100, 98.5}},
        {PopoverEdge::leading, {198.5, 60}, {198.5, 30}},
        {PopoverEdge::trailing, {1.5, 60}, {1.5, 30}},
    };
    for (const auto& c : cases) {
        const QPainterPath shown = popoverOutline(rect, c.edge, 60, PopoverArrow::shown);
        EXPECT_TRUE(shown.contains(c.nearTip)) << static_cast<int>(c.edge);
        EXPECT_FALSE(shown.contains(c.besideTip)) << static_cast<int>(c.edge);
        EXPECT_FALSE(shown.contains(QPointF(1, 1))) << "round corner " << static_cast<int>(c.edge);
        const QPainterPath plain = popoverOutline(rect, c.edge, 60, PopoverArrow::none);
        EXPECT_FALSE(plain.contains(QPointF(1, 1))) << static_cast<int>(c.edge);
        EXPECT_TRUE(plain.contains(c.besideTip)) << static_cast<int>(c.edge);
    }
}

// An anchor button in a window, and a popover whose content is a line edit.
struct PopoverRig {
    QWidget window;
    QPushButton* anchor = new QPushButton(QStringLiteral("Open"), &window);
    int built = 0;
    int closings = 0;
    int dismissals = 0;
    QString textAtClosing;
    Popover* popover = new Popover(anchor, PopoverEdge::below, [this](QWidget* parent) {
        ++built;
        auto* box = new QWidget(parent);
        box->setFixedSize(200, 120);
        auto* edit = new QLineEdit(box);
        edit->setObjectName(QStringLiteral("edit"));
        return box;
    });

    PopoverRig() {
        window.resize(400, 300);
        anchor->setGeometry(100, 100, 80, 30);
        QObject::connect(popover, &Popover::closing, &window, [this] {
            ++closings;
            auto* edit = popover->content()->findChild<QLineEdit*>(QStringLiteral("edit"));
            textAtClosing = edit ? edit->text() : QStringLiteral("<gone>");
        });
        QObject::connect(popover, &Popover::dismissed, &window, [this] { ++dismissals; });
        window.show();
    }
};

TEST(PopoverWidget, EachWayOfClosingReportsOnceWithTheContentStillThere) {
    const struct {
        const char* name;
        std::function<void(PopoverRig&)> close;
    } cases[] = {
        {"Escape in the content", [](PopoverRig& rig) {
             QTest::keyClick(rig.popover->content()->findChild<QLineEdit*>(), Qt::Key_Escape);
         }},
        {"dismiss()", [](PopoverRig& rig) { rig.popover->dismiss(); }},
        {"the anchor hides", [](PopoverRig& rig) { rig.anchor->hide(); }},
        {"the anchor's window hides", [](PopoverRig& rig) { rig.window.hide(); }},
    };
    for (const auto& c : cases) {
        PopoverRig rig;
        rig.popover->present();
        ASSERT_TRUE(rig.popover->isPresented()) << c.name;
        rig.popover->content()->findChild<QLineEdit*>()->setText(QStringLiteral("typed"));
        c.close(rig);
        EXPECT_FALSE(rig.popover->isPresented()) << c.name;
        EXPECT_EQ(rig.closings, 1) << c.name;
        EXPECT_EQ(rig.dismissals, 1) << c.name;
        EXPECT_EQ(rig.textAtClosing, QStringLiteral("typed")) << c.name;
    }
}

TEST(PopoverWidget, EveryOpeningBuildsFreshContentBelowTheAnchor) {
    PopoverRig rig;
    rig.popover->present();
    rig.popover->present();  // already open: nothing new
    EXPECT_EQ(rig.built, 1);
    // The arrow adds its length on the side facing the anchor.
    EXPECT_EQ(rig.popover->size(), QSize(200, 120 + Popover::kArrowLength));
    EXPECT_EQ(rig.popover->geometry().top(), rig.anchor->mapToGlobal(QPoint(0, rig.anchor->height())).y() +
                                                 Popover::kGap);
    rig.popover->content()->findChild<QLineEdit*>()->setText(QStringLiteral("old"));
    rig.popover->dismiss();
    rig.popover->present();
    EXPECT_EQ(rig.built, 2);
    EXPECT_TRUE(rig.popover->content()->findChild<QLineEdit*>()->text().isEmpty());
}

// The objects a screen reader finds under the application, in order.
std::vector<QObject*> applicationChildren() {
    std::vector<QObject*> children;
    QAccessibleInterface* application = QAccessible::queryAccessibleInterface(QCoreApplication::instance());
    for (int i = 0; application && i < application->childCount(); ++i) {
        QAccessibleInterface* child = application->child(i);
        children.push_back(child ? child->object() : nullptr);
    }
    return children;
}

bool reaches(QAccessibleInterface* from, QObject* wanted) {
    if (!from) return false;
    if (from->object() == wanted) return true;
    for (int i = 0; i < from->childCount(); ++i) {
        if (reaches(from->child(i), wanted)) return true;
    }
    return false;
}

// Qt leaves pop-up windows out of the application's accessible children: an
// open popover is put among them, a dialog named after its anchor whose
// content a screen reader reaches from the application; closed, it goes.
TEST(PopoverWidget, AnOpenPopoverIsAChildOfTheApplicationsAccessibleTree) {
    PopoverRig rig;
    rig.anchor->setAccessibleName(QStringLiteral("Screen options"));
    EXPECT_EQ(std::ranges::count(applicationChildren(), rig.popover), 0);
    for (int opening = 1; opening <= 2; ++opening) {
        SCOPED_TRACE(opening);
        rig.popover->present();
        const std::vector<QObject*> children = applicationChildren();
        const auto at = std::ranges::find(children, rig.popover);
        ASSERT_NE(at, children.end()) << "the open popover is not a child of the application";
        EXPECT_NE(std::ranges::find(children, &rig.window), children.end()) << "the windows stay";
        QAccessibleInterface* application = QAccessible::queryAccessibleInterface(QCoreApplication::instance());
        QAccessibleInterface* popover = QAccessible::queryAccessibleInterface(rig.popover);
        ASSERT_NE(popover, nullptr);
        EXPECT_EQ(application->indexOfChild(popover), at - children.begin());
        ASSERT_NE(popover->parent(), nullptr);
        EXPECT_EQ(popover->parent()->object(), QCoreApplication::instance());
        EXPECT_EQ(popover->role(), QAccessible::Dialog);
        EXPECT_EQ(popover->text(QAccessible::Name), QStringLiteral("Screen options"));
        EXPECT_TRUE(reaches(application, rig.popover->content()->findChild<QLineEdit*>()));
        rig.popover->dismiss();
        EXPECT_EQ(std::ranges::count(applicationChildren(), rig.popover), 0) << "a closed popover stays listed";
    }
}

TEST(PopoverWidget, FollowsItsAnchorWhenTheAnchorOrAParentMoves) {
    QWidget window;
    window.resize(600, 400);
    auto* group = new QWidget(&window);
    group->setGeometry(50, 50, 300, 100);
    auto* anchor = new QPushButton(QStringLiteral("Open"), group);
    anchor->setGeometry(20, 20, 80, 30);
    Popover popover(anchor, PopoverEdge::below, [](QWidget* parent) {
        auto* box = new QWidget(parent);
        box->setFixedSize(160, 90);
        return box;
    });
    window.show();
    popover.present();
    ASSERT_TRUE(popover.isPresented());
    const auto offset = [&] { return popover.geometry().topLeft() - anchor->mapToGlobal(QPoint(0, 0)); };
    const QPoint settled = offset();
    anchor->move(60, 20);
    EXPECT_EQ(offset(), settled) << "the anchor moved in its group";
    group->move(120, 80);
    EXPECT_EQ(offset(), settled) << "the group moved in the window";
    popover.dismiss();
    // Closed, it no longer watches: a later move leaves it where it was.
    const QPoint closedAt = popover.pos();
    group->move(10, 10);
    EXPECT_EQ(popover.pos(), closedAt);
}

TEST(PopoverWidget, AHiddenAnchorCannotOpenIt) {
    PopoverRig rig;
    rig.anchor->hide();
    rig.popover->present();
    EXPECT_FALSE(rig.popover->isPresented());
    EXPECT_EQ(rig.built, 0);
}

// An anchor disabled while its popover is open (a button that waits while
// the model is busy) leaves the popover as it was: its controls take their
// keys, the menu bar's keys act while their items are enabled, and Escape
// and the anchor's going away still close it.
TEST(PopoverWidget, AnAnchorDisabledWhileItIsOpenLeavesItsKeysWorking) {
    PopoverRig rig;
    auto* bar = new QMenuBar(&rig.window);
    QAction* record = bar->addMenu(QStringLiteral("Camera"))->addAction(QStringLiteral("Record"));
    record->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    int records = 0;
    QObject::connect(record, &QAction::triggered, &rig.window, [&records] { ++records; });
    rig.window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&rig.window, 5000));
    rig.popover->present();
    ASSERT_TRUE(rig.popover->isPresented());
    auto* edit = rig.popover->content()->findChild<QLineEdit*>();
    QTest::mouseClick(rig.popover->windowHandle(), Qt::LeftButton, {}, edit->mapTo(rig.popover, edit->rect().center()));
    rig.anchor->setEnabled(false);
    EXPECT_TRUE(rig.popover->isEnabled());
    QWindow* keys = rig.popover->windowHandle();
    QTest::keyClick(keys, 'a');
    QTest::keyClick(keys, 'b');
    EXPECT_EQ(edit->text(), QStringLiteral("ab"));
    QTest::keyClick(keys, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(records, 1);
    record->setEnabled(false);
    QTest::keyClick(keys, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(records, 1) << "a disabled item does not act";
    EXPECT_EQ(QApplication::activePopupWidget(), rig.popover);
    QTest::keyClick(keys, Qt::Key_Escape);
    EXPECT_FALSE(rig.popover->isPresented());
    EXPECT_EQ(rig.dismissals, 1);
}

// Not a child of its anchor, the popover still goes with it.
TEST(PopoverWidget, GoesWithItsAnchor) {
    PopoverRig rig;
    rig.popover->present();
    ASSERT_TRUE(rig.popover->isPresented());
    const QPointer<Popover> popover = rig.popover;
    delete rig.anchor;
    EXPECT_TRUE(popover.isNull());
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

}  // namespace
}  // namespace lumenhollow::ui
