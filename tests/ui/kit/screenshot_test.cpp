// A few screenshots of the kit's pills and controls over a fixed picture,
// compared with the goldens by tolerance.

#include <gtest/gtest.h>

#include <QMenu>
#include <QPainter>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>
#include <chrono>

#include "lumenhollow/ui/kit/glass_backdrop.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/kit/pop_up_button.h"
#include "lumenhollow/ui/kit/record_pill.h"
#include "lumenhollow/ui/kit/status_pill.h"
#include "lumenhollow/ui/kit/usb_only.h"
#include "screenshot_compare.h"

namespace lumenhollow::ui {
namespace {

using namespace std::chrono_literals;

// Colour bars, the picture every glass control floats over here.
QImage colourBars(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    const QColor bars[] = {QColor(192, 192, 192), QColor(192, 192, 0), QColor(0, 192, 192), QColor(0, 192, 0),
                           QColor(192, 0, 192),   QColor(192, 0, 0),   QColor(0, 0, 192)};
    const int n = static_cast<int>(std::size(bars));
    for (int i = 0; i < n; ++i) {
        painter.fillRect(QRect(i * size.width() / n, 0, size.width() / n + 1, size.height()), bars[i]);
    }
    return image;
}

// The root the controls sit on: paints the bars and carries their backdrop.
class Stage : public QWidget {
public:
    explicit Stage(QSize size) : picture_(colourBars(size)) {
        setFixedSize(size);
        backdrop_.set(makeGlassBackdrop(picture_));
        GlassBackdrop::attach(this, &backdrop_);
        column_ = new QVBoxLayout(this);
        column_->setContentsMargins(16, 16, 16, 16);
        column_->setSpacing(12);
        column_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    }
    void add(QWidget* widget) { column_->addWidget(widget, 0, Qt::AlignLeft); }
    QImage shot() {
        ensurePolished();
        layout()->activate();
        return grab().toImage();
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, picture_); }

private:
    QImage picture_;
    GlassBackdrop backdrop_;
    QVBoxLayout* column_;
};

const hollowkit::WallTime kShotNow = hollowkit::WallTime{} + 5000s;

TEST(Screenshots, StatusPills) {
    Stage stage({360, 192});
    PublishedState state;
    state.battery = hollowkit::BatteryStatus{80, false};
    state.cardStorage = hollowkit::CardStorage{12800, 61035};
    state.macFreeBytes = 245'800'000'000;
    auto* wide = new StatusPill(&stage);
    wide->setState(statusPill(state, false));
    auto* compact = new StatusPill(&stage);
    compact->setState(statusPill(state, true));
    state.battery = hollowkit::BatteryStatus{5, true};
    state.cardStorage.reset();
    auto* charging = new StatusPill(&stage);
    charging->setState(statusPill(state, false));
    stage.add(wide);
    stage.add(compact);
    stage.add(charging);
    // No battery, no card, compact: the empty capsule, still there.
    auto* empty = new StatusPill(&stage);
    empty->setState(statusPill(PublishedState{}, true));
    stage.add(empty);
    EXPECT_EQ(testing::matchGolden(stage.shot(), QStringLiteral("status_pills")), "");
}

TEST(Screenshots, RecordPills) {
    Stage stage({300, 330});
    auto add = [&](auto change) {
        RecordPillInputs inputs;
        inputs.hasPicture = true;
        change(inputs);
        auto* pill = new RecordPill([] { return kShotNow; }, &stage);
        pill->setInputs(inputs);
        stage.add(pill);
    };
    add([](RecordPillInputs& i) { i.hasPicture = false; });                 // idle, no picture: dimmed
    add([](RecordPillInputs&) {});                                          // idle
    add([](RecordPillInputs& i) { i.countdownRemaining = 3; });             // countdown
    add([](RecordPillInputs& i) { i.recordingStarted = kShotNow - 61s; });      // recording 61 s
    add([](RecordPillInputs& i) {                                           // with the screen
        i.recordingStarted = kShotNow - 61s;
        i.recordScreen = true;
    });
    add([](RecordPillInputs& i) {                                           // to the camera's card
        i.supportsCardRecording = true;
        i.recordTarget = RecordTarget::camera;
    });
    add([](RecordPillInputs& i) { i.composeProgress = 0.5f; });            // combining a take
    EXPECT_EQ(testing::matchGolden(stage.shot(), QStringLiteral("record_pills")), "");
}

TEST(Screenshots, MenusMarkersAndButtons) {
    Stage stage({360, 220});
    stage.add(new PillMenuLabel("grid", QStringLiteral("Guide"), &stage));
    stage.add(new PillMenuLabel("circle.lefthalf.filled", QString(), &stage));
    stage.add(new UsbOnlyPill("person.fill.viewfinder", QStringLiteral("Scenes"), QStringLiteral("Needs USB."), [] {},
                              &stage));
    auto* row = new QWidget(&stage);
    auto* buttons = new QHBoxLayout(row);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(8);
    buttons->addWidget(new IconButton("scope", QStringLiteral("Center the gimbal (C)"), 32, row));
    auto* active = new IconButton("grid", QStringLiteral("Guides"), 32, row);
    active->setActive(true);
    buttons->addWidget(active);
    buttons->addWidget(new UsbOnlyIconButton("crop", QStringLiteral("Auto frame"), QStringLiteral("Needs USB."), 32,
                                             [] {}, row));
    buttons->addWidget(new UsbOnlyIconButton("person.fill.viewfinder", QStringLiteral("Face tracking"),
                                             QStringLiteral("Needs USB."), 40, [] {}, row));
    stage.add(row);
    EXPECT_EQ(testing::matchGolden(stage.shot(), QStringLiteral("menus_markers_buttons")), "");
}

// Two open menus side by side: a pop-up's choices, opened by a press on it,
// and a menu of toggles. The current choice and the toggle that is on carry
// the check mark; the other rows carry nothing, neither a box nor a bullet.
TEST(Screenshots, MenusMarkTheCurrentRowWithACheckAndNothingElse) {
    QWidget window;
    window.resize(240, 80);
    auto* picker = new PopUpButton(QStringLiteral("Countdown"),
                                   {QStringLiteral("Off"), QStringLiteral("3 seconds"), QStringLiteral("5 seconds")},
                                   &window);
    picker->move(10, 10);
    picker->resize(picker->sizeHint());
    picker->setCurrentIndex(1);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, picker->geometry().center());
    ASSERT_TRUE(picker->menu()->isVisible());
    const QImage choices = picker->menu()->grab().toImage();
    picker->menu()->hide();

    QMenu toggles;
    for (const auto& [title, on] : {std::pair{"Grid", true}, std::pair{"Horizon", false}, std::pair{"9:16 Frame", true}}) {
        QAction* row = toggles.addAction(QString::fromLatin1(title));
        row->setCheckable(true);
        row->setChecked(on);
    }
    toggles.addSeparator();
    toggles.addAction(QStringLiteral("Import LUT\u2026"));
    toggles.popup(QPoint(300, 10));
    ASSERT_TRUE(toggles.isVisible());
    const QImage rows = toggles.grab().toImage();

    QImage both(QSize(choices.width() + 8 + rows.width(), std::max(choices.height(), rows.height())),
                QImage::Format_ARGB32_Premultiplied);
    both.fill(Qt::transparent);
    QPainter painter(&both);
    painter.drawImage(0, 0, choices);
    painter.drawImage(choices.width() + 8, 0, rows);
    painter.end();
    EXPECT_EQ(testing::matchGolden(both, QStringLiteral("menu_check_marks")), "");
}

}  // namespace
}  // namespace lumenhollow::ui
