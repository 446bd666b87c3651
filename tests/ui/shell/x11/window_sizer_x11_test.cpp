// The sizer on the real main window under a test X server of 1512x944 with
// no window manager, wired as the application wires it: when a portrait
// picture settles, the X server's own window takes the portrait size.

#include <QApplication>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "../../ui_harness.h"
#include "hollowkit/testing/xvfb_server.h"
#include "lumenhollow/ui/shell/sizer_attachment.h"
#include "lumenhollow/ui/shell/window_sizer.h"
#include "lumenhollow/ui/window/main_window.h"

namespace lumenhollow {
namespace {

using hollowkit::CameraEvent;
using test::picture;

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
    EXPECT_EQ(h.window->geometry().size(), QSize(457, 812));
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

}  // namespace
}  // namespace lumenhollow
