// The demonstration application's island on a real X server, watched as a
// user sees it: the screen read back from the root window, the pointer and
// the clicks made by xdotool, and a plain window of another client lying
// beneath the island's panel to tell where clicks land. Each case runs once
// without a compositing manager (the panel cut to the island's outline) and
// once with xcompmgr (a see-through panel blended by the compositor).
//
// Real time decides nothing tight here: a loaded machine stretches every
// delay. What is asserted is a lower bound on each delay (the executor's
// timers never fire early) and that things happen within generous bounds;
// the delays themselves are the virtual-time tests' business.

#include <QElapsedTimer>
#include <QWidget>

#include <cmath>
#include <future>
#include <optional>
#include <sstream>

#include "demo_run.h"
#include "desktop_probe.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/island/notch_panel.h"
#include "lumenhollow/ui/island/notch_panel_controller.h"

namespace lumenhollow::test {
namespace {

enum class Compositing { none, xcompmgr };

// Where the island must be on the run's 1920x1080 screen, which has no
// panels or bars: its 600x460 panel centred, 6 px below the top, and the
// island hanging from the panel's top centre.
constexpr int kIslandScreenMiddle = 960;
constexpr int kIslandTop = 6;
const QRect kIslandPanel(kIslandScreenMiddle - 300, kIslandTop, 600, 460);

QRect islandAtTopCentre(QSize size) {
    return QRect(kIslandScreenMiddle - size.width() / 2, kIslandTop, size.width(), size.height());
}

// The open island over a landscape picture: a 30 px band, 10, the picture
// 488 px wide, 12, the 40 px control row and 14 below it.
QSize expandedIslandSize(double aspect) {
    return QSize(520, 30 + 10 + static_cast<int>(std::lround(488 / aspect)) + 12 + 40 + 14);
}

// Anti-aliased edges may round either way by a pixel.
bool nearlyEqual(const QRect& seen, const QRect& wanted) {
    return std::abs(seen.left() - wanted.left()) <= 1 && std::abs(seen.top() - wanted.top()) <= 1 &&
           std::abs(seen.right() - wanted.right()) <= 1 && std::abs(seen.bottom() - wanted.bottom()) <= 1;
}

std::string describe(const QRect& r) {
    std::ostringstream text;
    text << r.width() << "x" << r.height() << " at (" << r.x() << ", " << r.y() << ")";
    return text.str();
}

bool pointTo(const RunningDemo& demo, QPoint point) {
    return demo.xvfb.xdotool({"mousemove", std::to_string(point.x()), std::to_string(point.y())}).status == 0;
}

bool clickHere(const RunningDemo& demo) { return demo.xvfb.xdotool({"click", "1"}).status == 0; }

// When the controller saw the pointer arrive over the island and leave it,
// and when the island opened and closed, in milliseconds of one clock. The
// pointer's moves are heard right after the controller's own handling of
// the same move, so each arrival is the moment its hover delay began.
class IslandHoverLog final : public QObject {
public:
    explicit IslandHoverLog(ui::NotchPanelController& island) : island_(island) {
        clock_.start();
        connect(&island.pointer(), &ui::PointerSource::moved, this, [this] {
            const bool over = ui::islandHoverContains(island_.islandRect(), island_.pointer().sample().position);
            if (over && !arrived) arrived = now();
            if (!over && arrived && !left) left = now();
        });
        connect(&island, &ui::NotchPanelController::expandedChanged, this, [this] {
            (island_.state().expanded ? opened : closed) = now();
        });
    }

    void clear() { arrived = left = opened = closed = std::nullopt; }

    std::optional<double> arrived, left, opened, closed;

private:
    double now() const { return static_cast<double>(clock_.nsecsElapsed()) / 1e6; }

    ui::NotchPanelController& island_;
    QElapsedTimer clock_;
};

class IslandOnXTest : public testing::TestWithParam<Compositing> {
protected:
    void SetUp() override {
        const std::string why = run_.prepare({});
        if (!why.empty()) GTEST_SKIP() << why;
        probe_ = DesktopProbe::connect(run_.xvfb().displayName());
        ASSERT_TRUE(probe_) << "no second connection to the server";
        if (GetParam() == Compositing::xcompmgr) {
            if (!CompositorProcess::program()) GTEST_SKIP() << "xcompmgr is not installed";
            const std::string failed = compositor_.start(run_.xvfb().displayName());
            ASSERT_EQ(failed, "");
            ASSERT_TRUE(probe_->waitForCompositor(std::chrono::seconds(20))) << "xcompmgr never took the screen";
        }
    }

    // The island shown as it should be on this desktop, with the probe's
    // window beneath its panel and the pointer away from it.
    ui::NotchPanelController* setUpIsland(RunningDemo& demo) {
        EXPECT_TRUE(demo.waitForLive()) << demo.model().state().statusText;
        ui::NotchPanelController* island = demo.app.island;
        EXPECT_TRUE(island && island->isShown());
        if (!island || !island->isShown()) return nullptr;
        EXPECT_EQ(island->panel().windowMode(), GetParam() == Compositing::xcompmgr ? ui::IslandWindowMode::translucent
                                                                                    : ui::IslandWindowMode::mask);
        EXPECT_EQ(island->panelFrame(), kIslandPanel);
        EXPECT_TRUE(probe_->openWindowBeneath(kIslandPanel, static_cast<uint32_t>(island->panel().winId())));
        EXPECT_TRUE(pointTo(demo, {kIslandScreenMiddle, 700}));
        return island;
    }

    // Waits for the screen to show the island as `wanted`.
    void expectIslandShown(const RunningDemo& demo, const QRect& wanted) {
        QRect seen;
        EXPECT_TRUE(demo.waitFor([&] { return nearlyEqual(seen = probe_->blackBounds(kIslandPanel), wanted); }, 20s))
            << "the screen shows black over " << describe(seen) << ", not " << describe(wanted);
    }

    DemoRun run_;
    std::unique_ptr<DesktopProbe> probe_;
    CompositorProcess compositor_;
};

TEST_P(IslandOnXTest, HoverOpensTheIslandAndLeavingClosesIt) {
    const int status = run_.run([&](RunningDemo& demo) {
        ui::NotchPanelController* island = setUpIsland(demo);
        ASSERT_TRUE(island && !HasFailure());
        const QRect collapsed = islandAtTopCentre({210, 30});
        {
            SCOPED_TRACE("at rest: the small black pill");
            expectIslandShown(demo, collapsed);
        }
        IslandHoverLog log(*island);
        {
            SCOPED_TRACE("the pointer rests on the pill");
            ASSERT_TRUE(pointTo(demo, {kIslandScreenMiddle, 20}));
            ASSERT_TRUE(demo.waitFor([&] { return log.arrived.has_value(); }, 10s));
            EXPECT_FALSE(island->state().expanded) << "open the moment the pointer arrived";
            ASSERT_TRUE(demo.waitFor([&] { return log.opened.has_value(); }, 10s));
            EXPECT_GE(*log.opened - *log.arrived, 110.0);
            expectIslandShown(demo, islandAtTopCentre(expandedIslandSize(demo.model().previewAspect())));
        }
        {
            SCOPED_TRACE("the pointer goes away");
            ASSERT_TRUE(pointTo(demo, {kIslandScreenMiddle, 700}));
            ASSERT_TRUE(demo.waitFor([&] { return log.left.has_value(); }, 10s));
            EXPECT_TRUE(island->state().expanded) << "closed the moment the pointer left";
            ASSERT_TRUE(demo.waitFor([&] { return log.closed.has_value(); }, 10s));
            EXPECT_GE(*log.closed - *log.left, 440.0);
            expectIslandShown(demo, collapsed);
        }
        {
            SCOPED_TRACE("the pointer pushed against the screen's top edge over the pill");
            // Moved as a mouse moves it (not set in place), from a corner
            // to the edge above the panel, with the main window (which would
            // lie under it, as no window manager places it) out of the way:
            // no window of ours hears of it, only the server's raw events
            // tell, and the hover area reaches the edge.
            const QPoint windowAt = demo.window().pos();
            demo.window().move(0, 700);
            const QPoint corner(1919, 1079);
            ASSERT_TRUE(pointTo(demo, corner));
            // Whatever our windows heard of the moves so far is handled first.
            demo.waitFor([] { return false; }, 500ms);
            log.clear();
            ASSERT_EQ(demo.xvfb
                          .xdotool({"mousemove_relative", "--", std::to_string(kIslandScreenMiddle - corner.x()), "-2000"})
                          .status,
                      0);
            ASSERT_TRUE(demo.waitFor([&] { return log.opened.has_value(); }, 10s))
                << "the pointer at " << island->pointer().sample().position.y();
            EXPECT_EQ(island->pointer().sample().position, QPoint(kIslandScreenMiddle, 0));
            demo.window().move(windowAt);
            ASSERT_TRUE(pointTo(demo, {kIslandScreenMiddle, 700}));
            ASSERT_TRUE(demo.waitFor([&] { return log.closed.has_value(); }, 10s));
        }
        {
            SCOPED_TRACE("the pointer crosses the pill quickly");
            // A crossing counts when the controller saw the pointer over the
            // pill for less than the hover delay; a loaded machine may stretch
            // one, so a few are tried.
            bool crossed = false;
            for (int attempt = 0; attempt < 6 && !crossed; ++attempt) {
                log.clear();
                auto moves = std::async(std::launch::async, [&demo] {
                    return demo.xvfb.xdotool({"mousemove", "700", "20", "mousemove", "960", "20", "sleep", "0.05",
                                              "mousemove", "1220", "20"});
                });
                ASSERT_TRUE(demo.waitFor(
                    [&] { return moves.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 30s));
                ASSERT_EQ(moves.get().status, 0);
                ASSERT_TRUE(demo.waitFor([&] { return !log.arrived || log.left; }, 10s));
                if (!log.arrived || *log.left - *log.arrived >= 100.0) continue;
                crossed = true;
                // Longer than the hover delay, measured from the crossing's end.
                EXPECT_FALSE(demo.waitFor([&] { return island->state().expanded; }, 500ms))
                    << "opened after the pointer was over it for " << *log.left - *log.arrived << " ms";
            }
            EXPECT_TRUE(crossed) << "the pointer was never seen over the pill only briefly";
        }
    });
    EXPECT_EQ(status, 0);
}

TEST_P(IslandOnXTest, ClickTriggerPinAndClicksBeside) {
    const int status = run_.run([&](RunningDemo& demo) {
        ui::NotchPanelController* island = setUpIsland(demo);
        ASSERT_TRUE(island && !HasFailure());
        demo.model().setNotchTrigger(NotchTrigger::click);
        expectIslandShown(demo, islandAtTopCentre({210, 30}));
        IslandHoverLog log(*island);
        // Inside the panel, well under the island even when it is open.
        const QPoint beside(kIslandScreenMiddle, 440);
        {
            SCOPED_TRACE("a click beside the closed island reaches the window beneath");
            ASSERT_TRUE(pointTo(demo, beside));
            ASSERT_TRUE(clickHere(demo));
            EXPECT_TRUE(demo.waitFor([&] { return probe_->presses() == 1; }, 10s)) << probe_->presses();
        }
        {
            SCOPED_TRACE("with the click trigger, resting on the island does not open it; a click does");
            ASSERT_TRUE(pointTo(demo, {kIslandScreenMiddle, 20}));
            ASSERT_TRUE(demo.waitFor([&] { return log.arrived && !island->input().passThrough(); }, 10s));
            EXPECT_FALSE(demo.waitFor([&] { return island->state().expanded; }, 600ms));
            ASSERT_TRUE(clickHere(demo));
            EXPECT_TRUE(demo.waitFor([&] { return island->state().expanded; }, 10s));
            EXPECT_EQ(probe_->presses(), 1) << "the click on the island went through it";
        }
        {
            SCOPED_TRACE("pinned, the open island stays when the pointer leaves; clicks beside it go beneath");
            island->togglePinned();
            ASSERT_TRUE(island->state().pinned);
            ASSERT_TRUE(pointTo(demo, beside));
            ASSERT_TRUE(demo.waitFor([&] { return log.left && island->input().passThrough(); }, 10s));
            ASSERT_TRUE(clickHere(demo));
            EXPECT_TRUE(demo.waitFor([&] { return probe_->presses() == 2; }, 10s)) << probe_->presses();
            EXPECT_FALSE(demo.waitFor([&] { return !island->state().expanded; }, 1000ms)) << "closed while pinned";
            expectIslandShown(demo, islandAtTopCentre(expandedIslandSize(demo.model().previewAspect())));
        }
        {
            SCOPED_TRACE("unpinned away from it, the island closes");
            log.clear();
            island->togglePinned();
            ASSERT_TRUE(demo.waitFor([&] { return log.closed.has_value(); }, 10s));
            expectIslandShown(demo, islandAtTopCentre({210, 30}));
        }
        {
            SCOPED_TRACE("a press held on the open island keeps it open after the pointer leaves, until released");
            ASSERT_TRUE(pointTo(demo, {kIslandScreenMiddle, 20}));
            ASSERT_TRUE(demo.waitFor([&] { return !island->input().passThrough(); }, 10s));
            ASSERT_TRUE(clickHere(demo));
            ASSERT_TRUE(demo.waitFor([&] { return island->state().expanded; }, 10s));
            expectIslandShown(demo, islandAtTopCentre(expandedIslandSize(demo.model().previewAspect())));
            log.clear();
            ASSERT_EQ(demo.xvfb.xdotool({"mousemove", "960", "200", "mousedown", "1"}).status, 0);
            ASSERT_TRUE(pointTo(demo, beside));
            ASSERT_TRUE(demo.waitFor([&] { return island->pointer().sample().position == beside; }, 10s));
            EXPECT_FALSE(demo.waitFor([&] { return !island->state().expanded; }, 1000ms)) << "closed under the press";
            ASSERT_EQ(demo.xvfb.xdotool({"mouseup", "1"}).status, 0);
            EXPECT_TRUE(demo.waitFor([&] { return log.closed.has_value(); }, 10s));
            EXPECT_EQ(probe_->presses(), 2) << "the press on the island went through it";
        }
    });
    EXPECT_EQ(status, 0);
}

TEST_P(IslandOnXTest, FollowsACompositorThatStopsOrStartsWhileItRuns) {
    if (!CompositorProcess::program()) GTEST_SKIP() << "xcompmgr is not installed";
    const int status = run_.run([&](RunningDemo& demo) {
        ui::NotchPanelController* island = setUpIsland(demo);
        ASSERT_TRUE(island && !HasFailure());
        const QRect collapsed = islandAtTopCentre({210, 30});
        expectIslandShown(demo, collapsed);
        // Each change and back: beside the island the window beneath shows,
        // not a black panel (an unblended alpha channel) or a stale one.
        const std::string display = run_.xvfb().displayName();
        for (const bool running : {GetParam() == Compositing::none, GetParam() == Compositing::xcompmgr}) {
            SCOPED_TRACE(running ? "the compositor starts" : "the compositor stops");
            if (running) {
                ASSERT_EQ(compositor_.start(display), "");
                ASSERT_TRUE(probe_->waitForCompositor(std::chrono::seconds(20))) << "xcompmgr never took the screen";
            } else {
                compositor_.stop();
            }
            const ui::IslandWindowMode wanted = running ? ui::IslandWindowMode::translucent : ui::IslandWindowMode::mask;
            EXPECT_TRUE(demo.waitFor([&] { return island->panel().windowMode() == wanted; }, 20s))
                << "the panel kept its mode";
            expectIslandShown(demo, collapsed);
        }
    });
    EXPECT_EQ(status, 0);
}

INSTANTIATE_TEST_SUITE_P(Desktops, IslandOnXTest, testing::Values(Compositing::none, Compositing::xcompmgr),
                         [](const testing::TestParamInfo<Compositing>& desktop) {
                             return desktop.param == Compositing::none ? std::string("WithoutCompositor")
                                                                    : std::string("WithXcompmgr");
                         });

}  // namespace
}  // namespace lumenhollow::test
