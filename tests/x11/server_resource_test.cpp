// ServerResource against a real X server (Xvfb started by the test): a
// pixmap held by one is freed when it is reset, replaced or goes, survives
// a move, and is left alone once forgotten (the server dropped it itself).

#include "hollowkit/x11/server_resource.h"

#include <xcb/xcb.h>

#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "hollowkit/x11/xcb_connection.h"
#include "tests/recording/screen_test_support.h"

namespace hollowkit::x11 {
namespace {

TEST(ServerResourceTest, APixmapLivesExactlyAsLongAsItsOwnerHoldsIt) {
    std::string skip;
    const auto server = testsupport::startXvfb(64, 64, skip);
    if (!server && !skip.empty()) GTEST_SKIP() << skip;
    ASSERT_NE(server, nullptr);
    auto opened = openConnection(server->displayName());
    ASSERT_TRUE(opened.has_value()) << opened.error();
    const Connection& x = opened.value();
    xcb_connection_t* c = x.get();
    const auto makePixmap = [&] {
        const uint32_t id = xcb_generate_id(c);
        xcb_create_pixmap(c, x.rootDepth, id, x.root, 8, 8);
        return id;
    };
    const auto exists = [&](uint32_t id) {
        return ask(xcb_get_geometry_reply, c, xcb_get_geometry(c, id)) != nullptr;
    };

    std::optional<ServerResource> other;
    const struct {
        const char* name;
        std::function<void(std::optional<ServerResource>&)> act;
        bool exists;
    } cases[] = {
        {"held", [](auto&) {}, true},
        {"reset", [](auto& r) { r->reset(); }, false},
        {"gone with its owner", [](auto& r) { r.reset(); }, false},
        {"replaced", [&](auto& r) { *r = ServerResource(c, ServerResource::Kind::pixmap, makePixmap()); }, false},
        {"moved to another owner, the first gone",
         [&](auto& r) {
             other.emplace(std::move(*r));
             r.reset();
         },
         true},
        {"forgotten, then gone",
         [](auto& r) {
             r->forget();
             r.reset();
         },
         true},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        const uint32_t id = makePixmap();
        std::optional<ServerResource> resource(std::in_place, c, ServerResource::Kind::pixmap, id);
        EXPECT_EQ(resource->id(), id);
        each.act(resource);
        EXPECT_EQ(exists(id), each.exists);
        // Whoever holds it now lets go of it; a forgotten one is freed here.
        const bool held = (resource && *resource) || (other && *other);
        resource.reset();
        other.reset();
        if (each.exists && !held) xcb_free_pixmap(c, id);
    }
}

}  // namespace
}  // namespace hollowkit::x11
