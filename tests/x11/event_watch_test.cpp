// EventWatch against a real X server (Xvfb started by the test): each kind
// opens on its own connection, only the compositor watch says whether a
// compositing manager runs, the compositor selection's owner is followed as
// another client takes and drops it, and a watch whose server goes away
// reports that once.

#include "hollowkit/x11/event_watch.h"

#include <poll.h>
#include <xcb/xcb.h>

#include <memory>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/recording/screen_test_support.h"

namespace hollowkit::x11 {
namespace {

// Whether `fd` became readable within a bounded wait (the server answers in
// its own time).
bool readable(int fd) {
    pollfd one{fd, POLLIN, 0};
    return ::poll(&one, 1, 5000) == 1;
}

class EventWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = testsupport::startXvfb(640, 480, skip_);
        if (!server_ && !skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_NE(server_, nullptr);
    }

    std::unique_ptr<XvfbServer> server_;
    std::string skip_;
};

TEST_F(EventWatchTest, EachKindOpensQuietOnItsOwnConnection) {
    for (const EventWatch::Kind kind :
         {EventWatch::Kind::pointerActivity, EventWatch::Kind::keyPresses, EventWatch::Kind::compositorOwner,
          EventWatch::Kind::primaryButton}) {
        SCOPED_TRACE(std::string(EventWatch::describe(kind)));
        auto watch = EventWatch::open(kind, server_->displayName());
        ASSERT_TRUE(watch.has_value()) << watch.error();
        EXPECT_EQ(watch.value()->kind(), kind);
        EXPECT_GE(watch.value()->fd(), 0);
        EXPECT_FALSE(watch.value()->broken());
        EXPECT_EQ(watch.value()->drain(), EventWatch::Drained{});
    }
}

// A stand-in compositing manager: another client owning the screen's
// compositor selection until its connection goes.
Connection standInCompositor(const std::string& display) {
    auto compositor = openConnection(display);
    EXPECT_TRUE(compositor.has_value()) << compositor.error();
    if (!compositor) return {};
    xcb_connection_t* c = compositor.value().get();
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, compositor.value().root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(c, window, internAtom(c, compositorSelectionName(compositor.value().screenNumber)),
                            XCB_CURRENT_TIME);
    // Answered once the server has done both.
    ask(xcb_get_input_focus_reply, c, xcb_get_input_focus(c));
    return std::move(compositor.value());
}

// Only the compositor watch asks the server about a compositing manager,
// and it asks now, not from events it has yet to drain; the input watches
// never say one runs.
TEST_F(EventWatchTest, OnlyTheCompositorWatchSaysACompositorRuns) {
    const struct {
        EventWatch::Kind kind;
        bool onABareServer;
        bool withACompositor;
    } cases[] = {
        {EventWatch::Kind::compositorOwner, false, true},
        {EventWatch::Kind::pointerActivity, false, false},
        {EventWatch::Kind::keyPresses, false, false},
        {EventWatch::Kind::primaryButton, false, false},
    };
    std::vector<std::unique_ptr<EventWatch>> watches;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(EventWatch::describe(c.kind)));
        auto watch = EventWatch::open(c.kind, server_->displayName());
        ASSERT_TRUE(watch.has_value()) << watch.error();
        EXPECT_EQ(watch.value()->compositorRuns(), c.onABareServer);
        watches.push_back(std::move(watch.value()));
    }
    const Connection compositor = standInCompositor(server_->displayName());
    ASSERT_NE(compositor.get(), nullptr);
    for (size_t i = 0; i < watches.size(); ++i) {
        SCOPED_TRACE(std::string(EventWatch::describe(cases[i].kind)));
        EXPECT_EQ(watches[i]->compositorRuns(), cases[i].withACompositor);
    }
}

// The primary button is the one the server maps to button 1, whichever
// device button that is (a left-handed mouse swaps the first and third);
// each press and release is told in order, other buttons not at all.
TEST_F(EventWatchTest, ThePrimaryButtonsPressesAndReleasesInOrder) {
    if (!XvfbServer::xdotoolProgram()) GTEST_SKIP() << "xdotool is not installed (apt-get install xdotool)";
    const struct {
        const char* name;
        bool leftHanded;
        const char* clicked;
    } cases[] = {
        {"the usual mapping, button 1", false, "1"},
        {"left-handed, the device's button 3", true, "3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto mapper = openConnection(server_->displayName());
        ASSERT_TRUE(mapper.has_value()) << mapper.error();
        xcb_connection_t* m = mapper.value().get();
        const auto mapping = ask(xcb_get_pointer_mapping_reply, m, xcb_get_pointer_mapping(m));
        ASSERT_TRUE(mapping);
        std::vector<uint8_t> map(xcb_get_pointer_mapping_map(mapping.get()),
                                 xcb_get_pointer_mapping_map(mapping.get()) +
                                     xcb_get_pointer_mapping_map_length(mapping.get()));
        ASSERT_GE(map.size(), 3u);
        for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<uint8_t>(i + 1);
        if (c.leftHanded) std::swap(map[0], map[2]);
        ASSERT_TRUE(ask(xcb_set_pointer_mapping_reply, m,
                        xcb_set_pointer_mapping(m, static_cast<uint8_t>(map.size()), map.data())));

        auto opened = EventWatch::open(EventWatch::Kind::primaryButton, server_->displayName());
        ASSERT_TRUE(opened.has_value()) << opened.error();
        EventWatch& watch = *opened.value();
        const char* other = c.leftHanded ? "1" : "3";
        ASSERT_EQ(server_->xdotool({"click", other, "mousedown", c.clicked, "mouseup", c.clicked, "click", c.clicked})
                      .status,
                  0);
        std::vector<bool> changes;
        while (changes.size() < 4 && readable(watch.fd())) {
            const EventWatch::Drained drained = watch.drain();
            changes.insert(changes.end(), drained.primaryButton.begin(), drained.primaryButton.end());
        }
        EXPECT_EQ(changes, (std::vector<bool>{true, false, true, false}));
    }
}

TEST_F(EventWatchTest, ADisplayThatIsNotThereSaysWhy) {
    const auto watch = EventWatch::open(EventWatch::Kind::compositorOwner, ":4711");
    ASSERT_FALSE(watch.has_value());
    EXPECT_FALSE(watch.error().empty());
}

TEST_F(EventWatchTest, TheCompositorSelectionsOwnerIsFollowed) {
    auto opened = EventWatch::open(EventWatch::Kind::compositorOwner, server_->displayName());
    ASSERT_TRUE(opened.has_value()) << opened.error();
    EventWatch& watch = *opened.value();

    Connection compositor = standInCompositor(server_->displayName());
    ASSERT_NE(compositor.get(), nullptr);
    ASSERT_TRUE(readable(watch.fd()));
    EXPECT_GT(watch.drain().events, 0);
    EXPECT_TRUE(watch.compositorRuns());

    // The compositor ends: its selection goes with its connection.
    compositor.connection.reset();
    ASSERT_TRUE(readable(watch.fd()));
    EXPECT_GT(watch.drain().events, 0);
    EXPECT_FALSE(watch.compositorRuns());
}

TEST_F(EventWatchTest, AServerThatGoesAwayIsReportedOnce) {
    auto opened = EventWatch::open(EventWatch::Kind::pointerActivity, server_->displayName());
    ASSERT_TRUE(opened.has_value()) << opened.error();
    EventWatch& watch = *opened.value();
    server_.reset();
    ASSERT_TRUE(readable(watch.fd()));
    EXPECT_TRUE(watch.drain().broke);
    EXPECT_TRUE(watch.broken());
    EXPECT_EQ(watch.drain(), EventWatch::Drained{}) << "said once";
}

}  // namespace
}  // namespace hollowkit::x11
