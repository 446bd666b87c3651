#include "lumenhollow/ui/window/chrome_column.h"

#include <QApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/status_pill.h"
#include "lumenhollow/ui/window/notice_timeout.h"
#include "lumenhollow/ui/window/notice_toast.h"
#include "lumenhollow/ui/window/window_drag_area.h"
#include "ui_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;
using namespace std::chrono_literals;

// Counts the moves the drag strip asks for; the window manager always answers.
class ChromeWindowOps final : public WindowOps {
public:
    bool startSystemMove() override {
        ++moves;
        return true;
    }
    QPoint windowPosition() const override { return {}; }
    void moveWindowTo(QPoint) override {}
    void toggleMaximized() override {}

    int moves = 0;
};

// Turns animations off for one test.
struct StillMotion {
    StillMotion() { ui::setAnimationsEnabled(false); }
    ~StillMotion() { ui::setAnimationsEnabled(true); }
};

TEST(ChromeColumnTest, PressesMoveTheWindowOnlyInTheTopRowsGaps) {
    StillMotion still;
    struct Case {
        const char* name;
        QPoint at;  // in the 1152 x 648 window
        int moves;
        bool pictureDrag;
    };
    const std::vector<Case> cases{
        {"a drag from a gap in the top row moves the window", {600, 23}, 1, false},
        {"a drag from the strip under the row moves the window", {600, 36}, 1, false},
        {"the top gradient below the strip belongs to the picture", {600, 70}, 0, true},
        {"the bottom gradient lets the press through to the picture", {400, 460}, 0, true},
        {"so does the toast", {576, 110}, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h;
        h.emit(CameraEvent::stats(picture(1920, 1080)));
        MainWindow& window = h.show();
        window.resize(1152, 648);
        auto ops = std::make_unique<ChromeWindowOps>();
        ChromeWindowOps& fake = *ops;
        window.setWindowOps(std::move(ops));
        h.model->postNotice("Face tracking on");
        QCoreApplication::processEvents();
        ASSERT_TRUE(window.chrome().toast().isVisible());
        const QPoint at = window.surface().mapTo(&window, c.at);
        QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, at);
        EXPECT_EQ(window.input().isDragging(), c.pictureDrag);
        EXPECT_TRUE(h.velocity().isZero()) << "no press here turns the gimbal";
        // The window moves once the pointer goes the drag distance.
        const QPoint to = at + QPoint(QApplication::startDragDistance(), 0);
        QTest::mouseMove(window.windowHandle(), to);
        EXPECT_EQ(fake.moves, c.moves);
        QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, to);
    }
}

TEST(ChromeColumnTest, TheToastShowsTheNoticeUntilItsTimeIsUp) {
    StillMotion still;
    WindowHarness h;
    MainWindow& window = h.show();
    window.resize(1152, 648);
    NoticeToast& toast = window.chrome().toast();
    EXPECT_FALSE(toast.isVisible());
    h.model->postNotice("Face tracking on");
    EXPECT_TRUE(toast.isVisible());
    EXPECT_EQ(toast.text(), QStringLiteral("Face tracking on"));
    EXPECT_EQ(toast.y(), 96);
    EXPECT_EQ(toast.x() + toast.width() / 2, 576);
    EXPECT_TRUE(toast.testAttribute(Qt::WA_TransparentForMouseEvents));
    h.main.advance(2s);
    h.model->postNotice("Face tracking on");
    h.main.advance(2s);
    h.main.runUntilIdle();
    EXPECT_TRUE(toast.isVisible()) << "the repeat has its own 3 s";
    h.main.advance(1s);
    h.main.runUntilIdle();
    EXPECT_FALSE(toast.isVisible());
    EXPECT_FALSE(h.state().notice);
}

// A quit that waits says so in the window, past any notice's time, until
// the program ends.
TEST(ChromeColumnTest, TheToastSaysWhatAQuitStillWaitsForUntilTheEnd) {
    StillMotion still;
    WindowHarness h;
    MainWindow& window = h.show();
    window.resize(1152, 648);
    NoticeToast& toast = window.chrome().toast();
    h.model->postNotice("Face tracking on");
    h.model->handleTerminationRequest();
    h.main.runUntilIdle();
    ASSERT_TRUE(h.state().quitProgress);
    EXPECT_TRUE(toast.isVisible());
    EXPECT_EQ(toast.text(), QStringLiteral("Quitting…"));
    h.main.advance(NoticeTimeout::kShownFor + 1s);
    h.main.runUntilIdle();
    EXPECT_FALSE(h.state().notice);
    EXPECT_TRUE(toast.isVisible()) << "the quit's line went with the notice";
    EXPECT_EQ(toast.text(), QStringLiteral("Quitting…"));
}

TEST(ChromeColumnTest, TheFolderButtonOpensTheOutputFolder) {
    WindowHarness h;
    MainWindow& window = h.show();
    ui::IconButton& folder = window.chrome().folderButton();
    EXPECT_EQ(folder.toolTip(), QStringLiteral("Open the output folder (Ctrl+O)"));
    QTest::mouseClick(&folder, Qt::LeftButton, {}, folder.rect().center());
    h.main.runUntilIdle();
    const std::vector<std::string> calls = h.desktop.calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().rfind("open ", 0), 0u) << calls.back();
}

// Nothing on the desktop shows folders: the window says where it is, in a
// click of the button at its place in the window.
TEST(ChromeColumnTest, AFolderNothingCanShowIsToldInTheWindow) {
    StillMotion still;
    WindowHarness h;
    MainWindow& window = h.show();
    window.resize(1152, 648);
    h.desktop.setFails(true);
    ui::IconButton& folder = window.chrome().folderButton();
    const QPoint at = folder.mapTo(&window, folder.rect().center());
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
    h.main.runUntilIdle();
    NoticeToast& toast = window.chrome().toast();
    EXPECT_TRUE(toast.isVisible());
    EXPECT_EQ(toast.text(), QString::fromStdString(folderNotShownNotice(h.outputFolder)));
    EXPECT_TRUE(toast.text().contains(QString::fromStdString(h.outputFolder.string()))) << toast.text().toStdString();
}

// A notice longer than the smallest window is wide wraps onto more lines,
// every word of it inside the window.
TEST(ChromeColumnTest, ALongNoticeIsWhollyInsideTheSmallestWindow) {
    StillMotion still;
    WindowHarness h;
    MainWindow& window = h.show();
    window.resize(760, 428);
    const std::string notice = "Screen recording saved. No file manager to open it: the folder is " +
                               (h.outputFolder / "Screen Recording 2026-12-10 at 04.40.12").string();
    h.model->postNotice(notice);
    h.main.runUntilIdle();
    QApplication::processEvents();
    NoticeToast& toast = window.chrome().toast();
    ASSERT_TRUE(toast.isVisible());
    const QRect placed(toast.mapTo(&window, QPoint(0, 0)), toast.size());
    EXPECT_TRUE(window.rect().contains(placed)) << placed.x() << "," << placed.y() << " " << placed.width() << "x"
                                                << placed.height() << " in " << window.width();
    EXPECT_GT(toast.lines().size(), 1);
    EXPECT_EQ(toast.lines().join(QString()).remove(u' '), QString::fromStdString(notice).remove(u' '));
    const QFontMetricsF metrics(ui::uiFont(NoticeToast::kTextPx, QFont::Medium));
    for (const QString& line : toast.lines()) {
        EXPECT_LE(metrics.horizontalAdvance(line), toast.width() - 2 * NoticeToast::kInset) << line.toStdString();
    }
    EXPECT_GE(toast.height(), static_cast<int>(toast.lines().size() * metrics.height()));
}

TEST(ChromeColumnTest, WidthClassesSwitchTheRowAndTheRailAtOnce) {
    // The rail's fade is its own test's.
    StillMotion still;
    WindowHarness h;
    QWidget stage;
    ChromeWindowOps ops;
    auto* column = new ChromeColumn(*h.modelSignals, ops, &stage);
    QSignalSpy switched(column, &ChromeColumn::widthClassesChanged);
    stage.show();
    const struct {
        int width;
        bool compact;
        bool rail;
        int switches;  // in all, so far
    } cases[] = {{1152, false, false, 1}, {1040, false, false, 1}, {1039, true, false, 2},
                 {640, true, false, 2},   {639, true, true, 3},     {1152, false, false, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        column->resize(c.width, 812);
        EXPECT_EQ(column->widthClasses(), (WidthClasses{c.compact, c.rail}));
        EXPECT_EQ(switched.count(), c.switches);
        EXPECT_EQ(column->folderButton().isVisible(), !c.rail);
        EXPECT_EQ(column->slotWidget(ChromeColumn::Slot::scenesButton)->isVisible(), !c.rail);
        EXPECT_EQ(column->slotWidget(ChromeColumn::Slot::toolRail)->isVisible(), c.rail);
    }
}

TEST(ChromeColumnTest, InstalledControlsTakeTheirSlotsAndTheirSizesFollow) {
    WindowHarness h;
    QWidget stage;
    ChromeWindowOps ops;
    auto* column = new ChromeColumn(*h.modelSignals, ops, &stage);
    column->resize(1152, 648);
    stage.show();
    const struct {
        ChromeColumn::Slot slot;
        void (ChromeColumn::*install)(QWidget*);
        bool inTopRow;
    } cases[] = {
        {ChromeColumn::Slot::microphone, &ChromeColumn::setMicrophoneControl, true},
        {ChromeColumn::Slot::scenesButton, &ChromeColumn::setScenesButton, true},
        {ChromeColumn::Slot::settingsMenu, &ChromeColumn::setSettingsMenu, true},
        {ChromeColumn::Slot::zoom, &ChromeColumn::setZoomControl, false},
        {ChromeColumn::Slot::capture, &ChromeColumn::setCaptureControls, false},
        {ChromeColumn::Slot::joystick, &ChromeColumn::setJoystickPad, false},
        {ChromeColumn::Slot::bottomBar, &ChromeColumn::setBottomBar, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.slot));
        QPointer<QWidget> standIn = column->slotWidget(c.slot);
        auto* control = new QWidget;
        control->setFixedSize(44, 28);
        (column->*c.install)(control);
        EXPECT_TRUE(standIn.isNull()) << "the stand-in is deleted";
        EXPECT_EQ(column->slotWidget(c.slot), control);
        EXPECT_EQ(control->parentWidget(),
                  c.inTopRow ? static_cast<QWidget*>(&column->dragArea()) : static_cast<QWidget*>(column));
        EXPECT_EQ(control->focusPolicy(), Qt::NoFocus) << "the picture keeps the keyboard";
        EXPECT_EQ(control->size(), QSize(44, 28));
        control->setFixedSize(60, 28);
        QCoreApplication::processEvents();
        EXPECT_EQ(control->size(), QSize(60, 28)) << "a control that grows is laid out again";
    }
    EXPECT_EQ(column->recordPill(), nullptr) << "the record pill left with its slot";
    // The settings control stays last, at the right edge.
    EXPECT_EQ(column->slotWidget(ChromeColumn::Slot::settingsMenu)->geometry().right() + 1, 1140);
}

TEST(ChromeColumnTest, TheStatusPillFollowsTheBatteryAndTheWidthClass) {
    WindowHarness h;
    QWidget stage;
    ChromeWindowOps ops;
    auto* column = new ChromeColumn(*h.modelSignals, ops, &stage);
    column->resize(1152, 648);
    stage.show();
    h.emit(CameraEvent::battery(hollowkit::BatteryStatus{80, false}));
    EXPECT_EQ(column->statusPill().state(), ui::statusPill(h.state(), false));
    EXPECT_FALSE(column->statusPill().state().figures.empty());
    column->resize(1000, 648);
    EXPECT_EQ(column->statusPill().state(), ui::statusPill(h.state(), true));
    EXPECT_EQ(column->statusPill().geometry().right() + 1 + 8,
              column->slotWidget(ChromeColumn::Slot::scenesButton)->x())
        << "the pill stays one spacing before the scenes button at its new width";
}

}  // namespace
}  // namespace lumenhollow::test
