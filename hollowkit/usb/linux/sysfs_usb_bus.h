#pragma once

// USB devices and their video nodes as sysfs shows them, and SysfsUsbBus,
// the Linux UsbBus: devices from /sys/bus/usb/devices (idVendor, idProduct,
// product, descriptors), the control path through the device's video node
// (<dev>/<dev>:<config>.<interface>/video4linux/videoN -> /dev/videoN) as a
// V4l2UvcTransport. The sysfs and /dev roots are injectable so tests run
// against a tree in a temporary folder and a FakeV4l2Device.
//
// Reads only; no state beyond the layout. Any thread, one call at a time
// per instance (the V4l2Io decides how far that goes).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/usb/linux/v4l2_io.h"
#include "hollowkit/usb/usb_device.h"

namespace hollowkit {

struct UsbSysfsLayout {
    std::filesystem::path sysfsRoot = "/sys";
    std::filesystem::path devRoot = "/dev";
};

// A video4linux node that hangs under a USB device's interface.
struct UsbVideoNode {
    std::string node;                  // "video0"
    int index = 0;                     // N of videoN
    std::filesystem::path devicePath;  // devRoot / node
    std::string name;                  // the node's own name (its card name)
    uint8_t interfaceNumber = 0;       // the interface it hangs under
    UsbDeviceRecord device;            // the USB device it belongs to

    bool operator==(const UsbVideoNode&) const = default;
};

// Every USB device (interfaces and entries without a readable idVendor are
// left out), sorted by name.
std::vector<UsbDeviceRecord> listUsbDevices(const UsbSysfsLayout& layout);

// The video nodes of every USB device, by device name, then node number.
// Metadata nodes are listed too; QUERYCAP tells them apart.
std::vector<UsbVideoNode> listUsbVideoNodes(const UsbSysfsLayout& layout);

// The video nodes of one USB device, those under `preferredInterface` first,
// each group by node number.
std::vector<UsbVideoNode> usbVideoNodesOf(const UsbSysfsLayout& layout, const UsbDeviceRecord& device,
                                          std::optional<uint8_t> preferredInterface = std::nullopt);

// Whether an open node captures video (VIDIOC_QUERYCAP's device caps, or its
// capabilities when the driver gives no device caps). The error is
// QUERYCAP's negative errno.
Result<bool, int> v4l2NodeCapturesVideo(V4l2Io& io, int fd);

class SysfsUsbBus final : public UsbBus {
public:
    explicit SysfsUsbBus(V4l2Io& io, UsbSysfsLayout layout = {});

    std::vector<UsbDeviceRecord> devices() override;
    // The `descriptors` file (device descriptor, then configuration
    // descriptors), at most 256 KiB of it.
    std::optional<Bytes> descriptors(const UsbDeviceRecord& device) override;
    // The `name` of each video4linux entry under the device's interfaces.
    std::vector<std::string> videoNodeNames(const UsbDeviceRecord& device) override;
    // The first video node of the device that captures video (nodes under
    // the video-control interface first). When none can be opened, a
    // transport that is not open carries the first open error; with no video
    // node at all, or only nodes that do not capture, null.
    std::unique_ptr<UvcTransport> openVideoControl(const UsbDeviceRecord& device,
                                                   uint8_t interfaceNumber) override;

    const UsbSysfsLayout& layout() const { return layout_; }

private:
    V4l2Io& io_;
    const UsbSysfsLayout layout_;
};

}  // namespace hollowkit
