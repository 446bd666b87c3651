// The tray icon under a test X server of its own where no tray runs when
// the application starts: a tray that starts later (a smallest XEmbed tray
// manager, on a connection of the test's own) is found, the icon asks it to
// dock, and once the tray is gone the desktop has none again.

#include <QApplication>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "../../../model/model_harness.h"
#include "hollowkit/testing/xvfb_server.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/shell/tray_icon.h"

namespace lumenhollow {
namespace {

// The part of a system tray an icon meets: it owns the screen's tray
// selection, announces itself to the root window and hears dock requests.
class LateTray {
public:
    explicit LateTray(const std::string& display) : connection_(xcb_connect(display.c_str(), &screenNumber_)) {}
    ~LateTray() { xcb_disconnect(connection_); }
    LateTray(const LateTray&) = delete;
    LateTray& operator=(const LateTray&) = delete;

    bool start() {
        if (xcb_connection_has_error(connection_)) return false;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (int i = 0; i < screenNumber_; ++i) xcb_screen_next(&screens);
        root_ = screens.data->root;
        selection_ = atom("_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber_));
        opcode_ = atom("_NET_SYSTEM_TRAY_OPCODE");
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, root_, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screens.data->root_visual, 0, nullptr);
        xcb_set_selection_owner(connection_, window_, selection_, XCB_CURRENT_TIME);
        xcb_client_message_event_t announce{};
        announce.response_type = XCB_CLIENT_MESSAGE;
        announce.format = 32;
        announce.window = root_;
        announce.type = atom("MANAGER");
        announce.data.data32[0] = XCB_CURRENT_TIME;
        announce.data.data32[1] = selection_;
        announce.data.data32[2] = window_;
        xcb_send_event(connection_, 0, root_, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&announce));
        xcb_flush(connection_);
        return true;
    }

    // The tray ends: its window and with it the selection go.
    void end() {
        xcb_destroy_window(connection_, window_);
        xcb_flush(connection_);
    }

    // Reads what has arrived; true once an icon asked to dock.
    bool dockRequested() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
                // SYSTEM_TRAY_REQUEST_DOCK is opcode 0; the third value names the icon's window.
                if (message->type == opcode_ && message->data.data32[1] == 0) docked_ = message->data.data32[2];
            }
            std::free(event);
        }
        return docked_ != 0;
    }

private:
    xcb_atom_t atom(const std::string& name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
        const xcb_atom_t found = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(reply);
        return found;
    }

    int screenNumber_ = 0;
    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    xcb_window_t window_ = 0;
    xcb_atom_t selection_ = XCB_ATOM_NONE;
    xcb_atom_t opcode_ = XCB_ATOM_NONE;
    xcb_window_t docked_ = 0;
};

class TrayIconX11Test : public testing::Test {
protected:
    void SetUp() override {
        if (!hollowkit::XvfbServer::program()) GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb)";
        auto started = xvfb_.start(1280, 800);
        ASSERT_TRUE(started.has_value()) << started.error();
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", QByteArray::fromStdString(xvfb_.displayName()));
        qputenv("QT_SCALE_FACTOR", "1");
        // No session bus: the icon goes to an XEmbed tray, the kind this test runs.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lumenhollow-test-bus");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }

    void TearDown() override {
        tray_.reset();
        signals_.reset();
        model_.reset();
        app_.reset();
    }

    hollowkit::XvfbServer xvfb_;
    int argc_ = 1;
    char name_[20] = "ui_shell_x11_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<test::ModelHarness> model_;
    std::unique_ptr<ModelSignals> signals_;
    std::unique_ptr<TrayIcon> tray_;
};

TEST_F(TrayIconX11Test, ATrayThatStartsLaterShowsTheIconAndOneThatEndsIsNoLongerCounted) {
    model_ = std::make_unique<test::ModelHarness>();
    model_->createAndStart();
    signals_ = std::make_unique<ModelSignals>(model_->model);
    tray_ = std::make_unique<TrayIcon>(*signals_, true, [](QMenu&) {});
    QCoreApplication::processEvents();
    EXPECT_FALSE(tray_->hasTray()) << "no tray yet";

    LateTray tray(xvfb_.displayName());
    ASSERT_TRUE(tray.start());
    EXPECT_TRUE(QTest::qWaitFor([&] { return tray_->hasTray(); }, 10000)) << "the late tray is found";
    EXPECT_TRUE(QTest::qWaitFor([&] { return tray.dockRequested(); }, 10000)) << "the icon asks to dock";

    tray.end();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !tray_->hasTray(); }, 10000)) << "a tray gone is not counted";
}

}  // namespace
}  // namespace lumenhollow
