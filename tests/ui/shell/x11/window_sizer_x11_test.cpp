// The sizer on the real main window under a test X server of 1512x944 with
// no window manager, wired as the application wires it: when a portrait
// picture settles, the X server's own window takes the portrait size; and a
// fit's request crossed by another client's configure of the window, whose
// two notices Qt merges into the last, leaves the content at the window's
// real size and ends fitted; and a screen made smaller under the window
// (its resolution changed) fits the window, its content whole, into it.

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QMenuBar>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "../../ui_harness.h"
#include "hollowkit/testing/xvfb_server.h"
#include "hollowkit/x11/xcb_connection.h"
#include "lumenhollow/ui/shell/sizer_attachment.h"
#include "lumenhollow/ui/shell/window_sizer.h"
#include "lumenhollow/ui/window/chrome_layout.h"
#include "lumenhollow/ui/window/main_window.h"
#include "lumenhollow/ui/window/window_layout.h"

namespace lumenhollow {
namespace {

using hollowkit::CameraEvent;
using test::picture;
using namespace std::chrono_literals;

// Counts the configure notices of one window that Qt hands on.
class ConfigureNotices final : public QAbstractNativeEventFilter {
public:
    explicit ConfigureNotices(uint32_t window) : window_(window) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~ConfigureNotices() override { QCoreApplication::instance()->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) == XCB_CONFIGURE_NOTIFY &&
            static_cast<const xcb_configure_notify_event_t*>(message)->window == window_) {
            ++count;
        }
        return false;
    }
    int count = 0;

private:
    const uint32_t window_;
};

// Waits for the server's reply to a request on `connection`: every event
// the server sent it before is then in the connection's hands.
void roundTrip(xcb_connection_t* connection) {
    const auto reply = hollowkit::x11::ask(xcb_get_input_focus_reply, connection, xcb_get_input_focus(connection));
    (void)reply;
}

class WindowSizerX11Test : public testing::Test {
protected:
    void SetUp() override {
        if (!hollowkit::XvfbServer::program()) GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb)";
        if (!hollowkit::XvfbServer::xdotoolProgram()) GTEST_SKIP() << "xdotool is not installed";
        auto started = xvfb_.start(1512, 944);
        ASSERT_TRUE(started.has_value()) << started.error();
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", QByteArray::fromStdString(xvfb_.displayName()));
        qputenv("QT_SCALE_FACTOR", "1");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }

    void TearDown() override {
        harness_.reset();
        app_.reset();
    }

    // The X server's idea of the window's size, as "WIDTHxHEIGHT".
    std::string serverSize() const {
        const hollowkit::CommandResult found =
            xvfb_.xdotool({"search", "--onlyvisible", "--name", "^Lumenhollow$", "getwindowgeometry"});
        const auto at = found.output.find("Geometry: ");
        if (found.status != 0 || at == std::string::npos) return {};
        const auto end = found.output.find('\n', at);
        return found.output.substr(at + 10, end == std::string::npos ? std::string::npos : end - at - 10);
    }

    hollowkit::XvfbServer xvfb_;
    int argc_ = 1;
    char name_[20] = "ui_shell_x11_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<test::WindowHarness> harness_;
};

TEST_F(WindowSizerX11Test, TheRealWindowTakesThePortraitSizeWhenAPortraitPictureArrives) {
    harness_ = std::make_unique<test::WindowHarness>();
    test::WindowHarness& h = *harness_;
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    WindowSizer sizer(*h.modelSignals, h.main, {});
    attachSizerOnActivation(sizer);
    attachSizerToFirstWindowLater(sizer, h.main);
    h.show();
    h.main.runUntilIdle();
    ASSERT_EQ(sizer.window(), h.window.get());
    ASSERT_TRUE(QTest::qWaitFor([&] { return serverSize() == "1152x648"; }, 10000)) << serverSize();

    // The camera turns and stays turned until the model settles the size.
    h.emit(CameraEvent::stats(picture(1080, 1920)));
    h.main.advanceSeconds(3.5);
    h.main.runUntilIdle();
    EXPECT_TRUE(QTest::qWaitFor([&] { return serverSize() == "457x812"; }, 10000)) << serverSize();
    // The content takes the size once the server's answer has come.
    EXPECT_TRUE(QTest::qWaitFor([&] { return h.window->geometry().size() == QSize(457, 812); }, 10000));
    // Inside the screen, top edge kept (the window starts at the top).
    EXPECT_GE(h.window->geometry().top(), 0);
    EXPECT_LE(h.window->geometry().bottom(), 943);
}

TEST_F(WindowSizerX11Test, WithAMenuBarInTheWindowThePictureBelowItTakesTheShape) {
    harness_ = std::make_unique<test::WindowHarness>();
    test::WindowHarness& h = *harness_;
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    WindowSizer sizer(*h.modelSignals, h.main, {});
    attachSizerOnActivation(sizer);
    h.window = std::make_unique<MainWindow>(*h.modelSignals, *h.feed);
    auto* bar = new QMenuBar(h.window.get());
    bar->addMenu("Camera");
    h.window->setMenuBar(bar);
    h.window->resizeToDefault();
    h.window->show();
    h.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(h.window.get(), 5000));
    h.main.runUntilIdle();
    ASSERT_EQ(sizer.window(), h.window.get());
    const int barHeight = bar->height();
    ASSERT_GT(barHeight, 0);
    // The first size: the picture's part 1152 x 648, the bar above it.
    EXPECT_TRUE(QTest::qWaitFor([&] { return h.surface().size() == QSize(1152, 648); }, 10000)) << h.surface().size().width() << "x" << h.surface().size().height();

    h.emit(CameraEvent::stats(picture(1080, 1920)));
    h.main.advanceSeconds(3.5);
    h.main.runUntilIdle();
    // Portrait: 0.86 of the screen below the bar, the picture 9:16 to the pixel.
    const auto portrait = [&] {
        const QSize shown = h.surface().size();
        return shown.height() > shown.width() && std::abs(shown.width() * 16 - shown.height() * 9) <= 16;
    };
    EXPECT_TRUE(QTest::qWaitFor(portrait, 10000)) << h.surface().size().width() << "x" << h.surface().size().height()
        << " window " << h.window->width() << "x" << h.window->height() << " saved "
        << (sizer.memory().portraitSize ? sizer.memory().portraitSize->height : -1) << " bar " << barHeight;
    EXPECT_EQ(h.window->height(), h.surface().height() + barHeight);
    EXPECT_LE(h.window->geometry().bottom(), 943);
}

// The screen the window is on made smaller than the window (1512 x 944 to
// the smallest screen the window is made for, 760 x 428), as a change of
// resolution makes it: the window, wired as the application wires it, is
// fitted into the new screen, its minimum lowered to what that screen
// holds, and its content (the bottom bar at its foot) laid out to the
// window's size, not past its edges.
TEST_F(WindowSizerX11Test, AScreenMadeSmallerUnderTheWindowHoldsItWhole) {
    harness_ = std::make_unique<test::WindowHarness>();
    test::WindowHarness& h = *harness_;
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    WindowSizer::Options options;
    options.floor = FitFloor{static_cast<int>(kRailBelowWidth),
                             FitSize{static_cast<int>(kRailFloor.width), static_cast<int>(kRailFloor.height)},
                             FitSize{static_cast<int>(kWideFloor.width), static_cast<int>(kWideFloor.height)},
                             static_cast<int>(kWideShortestHeight)};
    options.contentMinimum = [](double aspect) {
        const SizeF minimum = minimumContentSize(aspect);
        return QSize(static_cast<int>(minimum.width), static_cast<int>(minimum.height));
    };
    WindowSizer sizer(*h.modelSignals, h.main, options);
    h.window = std::make_unique<MainWindow>(*h.modelSignals, *h.feed);
    auto* bar = new QMenuBar(h.window.get());
    bar->addMenu("Camera");
    h.window->setMenuBar(bar);
    h.window->resizeToDefault();
    h.window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(h.window.get(), 5000));
    sizer.attach(h.window.get());
    h.main.runUntilIdle();
    const int rows = bar->height();
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.window->size() == QSize(1152, 648 + rows); }, 10000));

    auto resized = xvfb_.resizeScreen(760, 428);
    ASSERT_TRUE(resized.has_value()) << resized.error();
    const QRect screen(0, 0, 760, 428);
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.window->screen()->geometry() == screen; }, 10000))
        << "Qt never heard of the new screen size";
    const auto whole = [&] {
        h.main.runUntilIdle();
        const QWidget* content = h.window->centralWidget();
        return screen.contains(h.window->geometry()) && content->geometry().bottom() < h.window->height() &&
               content->geometry().right() < h.window->width();
    };
    EXPECT_TRUE(QTest::qWaitFor(whole, 10000))
        << "the window at " << h.window->x() << "," << h.window->y() << " " << h.window->width() << "x"
        << h.window->height() << ", its content " << h.window->centralWidget()->width() << "x"
        << h.window->centralWidget()->height();
    const auto server = hollowkit::x11::ask(
        xcb_get_geometry_reply, app_->nativeInterface<QNativeInterface::QX11Application>()->connection(),
        xcb_get_geometry(app_->nativeInterface<QNativeInterface::QX11Application>()->connection(),
                         static_cast<xcb_window_t>(h.window->winId())));
    ASSERT_TRUE(server);
    EXPECT_LE(server->x + server->width, screen.width());
    EXPECT_LE(server->y + server->height, screen.height());
    const QSize own = options.contentMinimum(16.0 / 9.0);
    EXPECT_LT(h.window->centralWidget()->minimumHeight(), own.height()) << "the minimum kept above the screen";

    // Back to the screen it started on: the content's own minimum holds again.
    resized = xvfb_.resizeScreen(1512, 944);
    ASSERT_TRUE(resized.has_value()) << resized.error();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            h.main.runUntilIdle();
            return h.window->centralWidget()->minimumSize() == own;
        },
        10000))
        << "the content's minimum stayed " << h.window->centralWidget()->minimumWidth() << "x"
        << h.window->centralWidget()->minimumHeight();
}

// A panel that takes room at the screen's foot while the screen keeps its
// size (a desktop's bar, or a dock, set up after the window came): only the
// usable area changes, as the desktop announces it (_NET_WORKAREA), and the
// window is fitted again into what is left.
TEST_F(WindowSizerX11Test, APanelTakingRoomUnderTheWindowFitsItIntoWhatIsLeft) {
    harness_ = std::make_unique<test::WindowHarness>();
    test::WindowHarness& h = *harness_;
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    WindowSizer sizer(*h.modelSignals, h.main, {});
    h.window = std::make_unique<MainWindow>(*h.modelSignals, *h.feed);
    h.window->resizeToDefault();
    h.window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(h.window.get(), 5000));
    sizer.attach(h.window.get());
    h.main.runUntilIdle();
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.window->size() == QSize(1152, 648); }, 10000));
    const QRect screen = h.window->screen()->geometry();
    ASSERT_EQ(screen, QRect(0, 0, 1512, 944));

    auto other = hollowkit::x11::openConnection(xvfb_.displayName());
    ASSERT_TRUE(other.has_value()) << other.error();
    xcb_connection_t* test = other->get();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(test)).data->root;
    const QRect usable(0, 0, 1512, 520);
    const uint32_t area[] = {0, 0, 1512, 520};
    xcb_change_property(test, XCB_PROP_MODE_REPLACE, root, hollowkit::x11::internAtom(test, "_NET_WORKAREA"),
                        XCB_ATOM_CARDINAL, 32, 4, area);
    roundTrip(test);
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.window->screen()->availableGeometry() == usable; }, 10000))
        << "Qt never heard of the usable area";
    EXPECT_EQ(h.window->screen()->geometry(), screen) << "the screen itself kept its size";
    const auto inside = [&] {
        h.main.runUntilIdle();
        return usable.contains(h.window->geometry());
    };
    EXPECT_TRUE(QTest::qWaitFor(inside, 10000))
        << "the window at " << h.window->x() << "," << h.window->y() << " " << h.window->width() << "x"
        << h.window->height() << " past the panel";
}

// The user's resize, then the sizer's request for the fitted size crossed
// by another client's configure of the window to the size it has (as a
// window manager ending its drag does): Qt reads the two notices together
// and hands on only the last, which reports no change. Set on the widget,
// the request's size would stay the content's for good, narrower than the
// window; asked of the window, the content keeps the window's size, and the
// request, never answered, is asked again. A crossing in which Qt handed on
// both notices forced nothing and is made again.
TEST_F(WindowSizerX11Test, ARequestCrossedByAnotherConfigureEndsFittedWithTheContentAtTheWindowsSize) {
    harness_ = std::make_unique<test::WindowHarness>();
    test::WindowHarness& h = *harness_;
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    WindowSizer sizer(*h.modelSignals, h.main, {});
    h.window = std::make_unique<MainWindow>(*h.modelSignals, *h.feed);
    auto* bar = new QMenuBar(h.window.get());
    bar->addMenu("Camera");
    h.window->setMenuBar(bar);
    h.window->resizeToDefault();
    h.window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(h.window.get(), 5000));
    sizer.attach(h.window.get());
    h.main.runUntilIdle();
    const int rows = bar->height();
    const QSize fitted(1152, 648 + rows);
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.window->size() == fitted; }, 10000));
    auto other = hollowkit::x11::openConnection(xvfb_.displayName());
    ASSERT_TRUE(other.has_value()) << other.error();
    xcb_connection_t* test = other->get();
    xcb_connection_t* qt = app_->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const auto window = static_cast<xcb_window_t>(h.window->winId());
    const auto configure = [&](QSize size) {
        const uint32_t values[] = {static_cast<uint32_t>(size.width()), static_cast<uint32_t>(size.height())};
        xcb_configure_window(test, window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
        roundTrip(test);
    };
    const QSize dragged(1052, 548 + rows);
    const QSize shaped(974, 548 + rows);
    ConfigureNotices notices(window);
    bool merged = false;
    for (int attempt = 0; attempt < 20 && !merged; ++attempt) {
        SCOPED_TRACE(attempt);
        // From the fitted window, the user's resize.
        configure(fitted);
        ASSERT_TRUE(QTest::qWaitFor([&] { return h.window->size() == fitted; }, 10000));
        h.main.advance(1s);
        configure(dragged);
        ASSERT_TRUE(QTest::qWaitFor([&] { return h.window->size() == dragged; }, 10000));
        // Still for the quiet spell: the sizer asks for the fitted size, and
        // the server has done it before the other client's configure.
        notices.count = 0;
        h.main.advance(300ms);
        xcb_flush(qt);
        roundTrip(qt);
        configure(dragged);
        roundTrip(qt);
        ASSERT_TRUE(QTest::qWaitFor([&] { return notices.count > 0; }, 10000));
        QCoreApplication::processEvents();
        merged = notices.count == 1;
        // The sizer's answer check, and a new request's answer.
        for (int turn = 0; turn < 4; ++turn) {
            h.main.advance(300ms);
            QTest::qWait(0);
            xcb_flush(qt);
            roundTrip(qt);
            QCoreApplication::processEvents();
        }
        const auto server = hollowkit::x11::ask(xcb_get_geometry_reply, test, xcb_get_geometry(test, window));
        ASSERT_TRUE(server);
        const QSize onServer(server->width, server->height);
        ASSERT_TRUE(QTest::qWaitFor([&] { return h.window->size() == onServer; }, 2000))
            << "the content laid out at " << h.window->width() << "x" << h.window->height() << " in a window "
            << onServer.width() << "x" << onServer.height();
        if (merged) {
            EXPECT_EQ(onServer, shaped) << onServer.width() << "x" << onServer.height();
        }
    }
    EXPECT_TRUE(merged) << "Qt handed on both notices every time: the crossing was never forced";
}

}  // namespace
}  // namespace lumenhollow
