// The island view does only the work of what it shows: the closed island
// hears no level meter and draws nothing again for statistics that change
// nothing it shows, only its strip for a new battery level; the open
// island changes its controls in place, never hiding and showing them again
// (which would take away a tooltip and can drop a click).

#include "lumenhollow/ui/island/notch_view.h"

#include <QApplication>
#include <QPaintEvent>

#include <gtest/gtest.h>

#include <vector>

#include "../level_meter.h"
#include "island_preview_harness.h"
#include "lumenhollow/ui/island/island_expanded_view.h"

namespace lumenhollow::ui {
namespace {

using hollowkit::BatteryStatus;
using hollowkit::CameraEvent;
using lumenhollow::test::deliveriesDuringLevelMeter;
using lumenhollow::test::picture;

// The events a widget and everything in it receive, as they come.
class WidgetEvents final : public QObject {
public:
    explicit WidgetEvents(QWidget& root) {
        root.installEventFilter(this);
        for (QWidget* child : root.findChildren<QWidget*>()) child->installEventFilter(this);
    }

    int count(QEvent::Type type, const QObject* widget = nullptr) const {
        int n = 0;
        for (const Seen& seen : seen_) n += seen.type == type && (!widget || seen.widget == widget) ? 1 : 0;
        return n;
    }
    // What was drawn again, each in its widget's coordinates.
    std::vector<QRect> painted(const QObject* widget) const {
        std::vector<QRect> rects;
        for (const Seen& seen : seen_) {
            if (seen.type == QEvent::Paint && seen.widget == widget) rects.push_back(seen.rect);
        }
        return rects;
    }
    void clear() { seen_.clear(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        Seen seen{watched, event->type(), {}};
        if (event->type() == QEvent::Paint) seen.rect = static_cast<QPaintEvent*>(event)->rect();
        seen_.push_back(seen);
        return false;
    }

private:
    struct Seen {
        const QObject* widget;
        QEvent::Type type;
        QRect rect;
    };
    std::vector<Seen> seen_;
};

void settle(lumenhollow::test::ModelHarness& h) {
    h.main.runUntilIdle();
    QApplication::processEvents();
}

TEST(NotchView, TheClosedIslandHearsNoLevelAndDrawsOnlyWhatChanged) {
    test::IslandHarness h;
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.emit(CameraEvent::battery(BatteryStatus{85, false}));
    settle(h);
    NotchView& view = h.controller->view();
    ASSERT_TRUE(view.isVisible());
    WidgetEvents events(view);

    EXPECT_EQ(deliveriesDuringLevelMeter(h, *h.modelSignals), 0u);
    // The statistics of every second, with the same picture.
    for (int i = 0; i < 3; ++i) h.emit(CameraEvent::stats(picture(1920, 1080)));
    settle(h);
    EXPECT_EQ(events.count(QEvent::Paint), 0) << "drawn again with nothing new";
    EXPECT_EQ(events.count(QEvent::ToolTipChange), 0) << "the closed content laid out again";

    h.emit(CameraEvent::battery(BatteryStatus{84, false}));
    settle(h);
    const std::vector<QRect> painted = events.painted(&view);
    ASSERT_FALSE(painted.empty()) << "the new level was not drawn";
    const QRect strip((NotchSizes::panel.width() - 210) / 2, 0, 210, 30);
    for (const QRect& rect : painted) EXPECT_TRUE(strip.contains(rect)) << "beyond the strip";
    EXPECT_EQ(events.count(QEvent::Paint) - static_cast<int>(painted.size()), 0) << "the closed content drawn";
}

TEST(NotchView, TheOpenIslandChangesItsControlsInPlace) {
    test::PreviewHarness h(true);
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.open();
    // With the pointer over it, it stays open however long the level meter runs.
    h.pointer.moveTo(h.controller->islandRect().center());
    settle(h);
    IslandExpandedView& content = h.content();
    ASSERT_TRUE(content.isVisible());
    WidgetEvents events(content);
    std::vector<const QWidget*> shown;
    for (const IslandControlItem& item : content.items()) {
        if (const QWidget* widget = content.control(item.kind, std::max(0, item.sceneIndex))) shown.push_back(widget);
    }
    ASSERT_GE(shown.size(), 8u);

    // The statistics, a battery level and tracking (a tint) change no
    // control's presence or place; the level meter reaches none.
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.emit(CameraEvent::battery(BatteryStatus{50, true}));
    h.model->startFaceTracking();
    EXPECT_EQ(deliveriesDuringLevelMeter(h, *h.modelSignals), 0u);
    settle(h);
    ASSERT_TRUE(h.state().faceTracking);
    for (const QWidget* widget : shown) {
        EXPECT_EQ(events.count(QEvent::Hide, widget) + events.count(QEvent::Show, widget), 0)
            << widget->toolTip().toStdString() << " hidden and shown again";
        EXPECT_EQ(events.count(QEvent::Move, widget), 0) << widget->toolTip().toStdString();
        EXPECT_EQ(events.count(QEvent::ToolTipChange, widget), 0) << widget->toolTip().toStdString();
    }

    // A saved scene brings its chip; the controls before it stay as they are.
    events.clear();
    h.model->saveCurrentPositionAsScene();
    settle(h);
    EXPECT_TRUE(content.control(IslandControl::sceneChip, 0)->isVisible());
    EXPECT_EQ(events.count(QEvent::Hide, content.control(IslandControl::record)), 0);
    EXPECT_EQ(events.count(QEvent::Move, content.control(IslandControl::record)), 0);
}

}  // namespace
}  // namespace lumenhollow::ui
