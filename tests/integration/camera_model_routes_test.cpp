// The camera model driving the real cameras that the application's factory
// builds: the USB camera over the fake V4L2 device and the wireless camera
// against the simulated camera on loopback, on real threads. Frames must
// reach the main window's sink from each route, across switches, and the
// model must come to rest after a stop.

#include <gtest/gtest.h>

#include <atomic>

#include "model_route_rig.h"

namespace lumenhollow::test {
namespace {

TEST(CameraModelRoutesTest, LiveFramesFromEachRouteAcrossSwitchesUntilTheStop) {
    ASSERT_FALSE(wirelessAccessUnits().empty());
    ModelRouteRig rig(true);
    ASSERT_EQ(rig.seen().connection, ConnectionMode::usb) << "the Pocket is on the bus";
    rig.onMain([&] { rig.model->camera().start(); });

    struct Leg {
        const char* name;
        ConnectionMode mode;
        int width;
        int height;
    };
    const std::vector<Leg> legs{
        {"USB at launch", ConnectionMode::usb, kUsbWidth, kUsbHeight},
        {"to wireless", ConnectionMode::wireless, kWirelessWidth, kWirelessHeight},
        {"back to USB", ConnectionMode::usb, kUsbWidth, kUsbHeight},
        {"wireless again", ConnectionMode::wireless, kWirelessWidth, kWirelessHeight},
    };
    for (const Leg& leg : legs) {
        SCOPED_TRACE(leg.name);
        rig.onMain([&] { rig.model->selectConnection(leg.mode); });
        ASSERT_TRUE(rig.waitForFrames(10, leg.width, leg.height)) << rig.seen().statusText;
        ASSERT_TRUE(rig.waitUntil([](const Seen& s) { return s.statusText == "Live"; })) << rig.seen().statusText;
        const Seen now = rig.seen();
        EXPECT_EQ(now.connection, leg.mode);
        EXPECT_FALSE(now.switching);
    }
    // Every camera introduced itself with the stored identifier, the USB
    // route's battery link included.
    EXPECT_EQ(rig.onMain([&] { return rig.ble->pairingIdentifiers(); }),
              std::vector<std::string>(legs.size(), kPairingIdentifier));

    std::atomic<bool> stopped{false};
    rig.onMain([&] { rig.model->stopCamera([&stopped] { stopped = true; }); });
    ASSERT_TRUE(rig.waitUntil([&](const Seen& s) { return stopped.load() && s.statusText == "Disconnected"; }));
    EXPECT_FALSE(rig.seen().switching);
}

TEST(CameraModelRoutesTest, WithoutThePocketOnUsbTheWirelessRouteStartsAndComesBackAfterTheCameraDropsOut) {
    ASSERT_FALSE(wirelessAccessUnits().empty());
    ModelRouteRig rig(false);
    ASSERT_EQ(rig.seen().connection, ConnectionMode::wireless);
    rig.onMain([&] { rig.model->camera().start(); });
    ASSERT_TRUE(rig.waitForFrames(10, kWirelessWidth, kWirelessHeight)) << rig.seen().statusText;

    // The camera goes out of range: the route ends, reports the camera off,
    // and the model builds and starts a new wireless camera on its own.
    rig.onMain([&] { rig.ble->dropConnection(); });
    auto cameraOffs = [&] { return rig.onMain([&] { return rig.recorder->values<Field::cameraOff>(); }); };
    ASSERT_TRUE(rig.waitUntil([&](const Seen&) { return !cameraOffs().empty(); })) << rig.seen().statusText;
    ASSERT_TRUE(rig.waitForFrames(10, kWirelessWidth, kWirelessHeight)) << rig.seen().statusText;
    ASSERT_TRUE(rig.waitUntil([&](const Seen& s) { return s.statusText == "Live"; }));
    // Off, then cleared by the new camera's picture.
    EXPECT_EQ(cameraOffs().front(), true);
    EXPECT_EQ(cameraOffs().back(), false);
    EXPECT_EQ(rig.seen().connection, ConnectionMode::wireless);
    EXPECT_EQ(rig.onMain([&] { return rig.ble->connections(); }), 2);
}

}  // namespace
}  // namespace lumenhollow::test
