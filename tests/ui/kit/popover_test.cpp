#include "lumenhollow/ui/kit/popover.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

namespace lumenhollow::ui {
namespace {

TEST(PopoverFrame, OpensBesideTheAnchorAndStaysOnScreen) {
    const QRect screen(0, 0, 1000, 800);
    const struct {
        const char* name;
        QRect anchor;
        QSize size;
        PopoverEdge edge;
        QPoint topLeft;
    } cases[] = {
        {"below, centred", {100, 100, 80, 30}, {200, 150}, PopoverEdge::below, {40, 136}},
        {"none counts as below", {100, 100, 80, 30}, {200, 150}, PopoverEdge::none, {40, 136}},
        {"above, centred", {400, 700, 80, 30}, {340, 300}, PopoverEdge::above, {270, 394}},
        {"above without room opens below", {400, 20, 80, 30}, {200, 100}, PopoverEdge::above, {340, 56}},
        {"below without room opens above", {400, 750, 80, 30}, {200, 100}, PopoverEdge::below, {340, 644}},
        {"leading, centred on the anchor", {500, 300, 34, 34}, {380, 200}, PopoverEdge::leading, {114, 217}},
        {"leading without room opens after", {100, 300, 34, 34}, {380, 200}, PopoverEdge::leading, {140, 217}},
        {"pushed in from the right edge", {950, 100, 40, 30}, {300, 100}, PopoverEdge::below, {700, 136}},
        {"pushed in from the left edge", {0, 100, 40, 30}, {300, 100}, PopoverEdge::below, {0, 136}},
    };
    for (const auto& c : cases) {
        const QRect frame = popoverFrame(c.anchor, c.size, c.edge, screen);
        EXPECT_EQ(frame.topLeft(), c.topLeft) << c.name;
        EXPECT_EQ(frame.size(), c.size) << c.name;
        // Never over the anchor itself.
        EXPECT_FALSE(frame.intersects(c.anchor)) << c.name;
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
    EXPECT_EQ(rig.popover->size(), QSize(200, 120));
    EXPECT_EQ(rig.popover->geometry().top(), rig.anchor->mapToGlobal(QPoint(0, rig.anchor->height())).y() +
                                                 Popover::kGap);
    rig.popover->content()->findChild<QLineEdit*>()->setText(QStringLiteral("old"));
    rig.popover->dismiss();
    rig.popover->present();
    EXPECT_EQ(rig.built, 2);
    EXPECT_TRUE(rig.popover->content()->findChild<QLineEdit*>()->text().isEmpty());
}

TEST(PopoverWidget, AHiddenAnchorCannotOpenIt) {
    PopoverRig rig;
    rig.anchor->hide();
    rig.popover->present();
    EXPECT_FALSE(rig.popover->isPresented());
    EXPECT_EQ(rig.built, 0);
}

}  // namespace
}  // namespace lumenhollow::ui
