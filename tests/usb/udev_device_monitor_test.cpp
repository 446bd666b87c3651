#include "hollowkit/usb/linux/udev_device_monitor.h"

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

TEST(UdevDeviceMonitorTest, ReportsCaptureNodesAndWholeSoundCardsArrivingAndLeaving) {
    struct Case {
        const char* subsystem;
        const char* action;
        const char* sysname;
        std::optional<DeviceChange> expected;
    };
    using Kind = DeviceChange::Kind;
    const Case cases[] = {
        {"video4linux", "add", "video0", DeviceChange{Kind::video, true, "Osmo Pocket 3"}},
        {"video4linux", "remove", "video1", DeviceChange{Kind::video, false, "Osmo Pocket 3"}},
        {"sound", "add", "card2", DeviceChange{Kind::audio, true, "Osmo Pocket 3"}},
        {"sound", "remove", "card2", DeviceChange{Kind::audio, false, "Osmo Pocket 3"}},
        {"sound", "add", "pcmC2D0c", std::nullopt},  // one report per card, not per node
        {"sound", "add", "controlC2", std::nullopt},
        {"sound", "change", "card2", std::nullopt},
        {"video4linux", "bind", "video0", std::nullopt},
        {"usb", "add", "1-2", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.subsystem) + " " + c.action + " " + c.sysname);
        EXPECT_EQ(deviceChangeFromUdev(c.subsystem, c.action, c.sysname, "Osmo Pocket 3"), c.expected);
    }
}

}  // namespace
}  // namespace hollowkit
