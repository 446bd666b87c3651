#pragma once

// FakeUsbSysfs: the part of sysfs the USB camera reads, built in a fresh
// temporary folder and removed with the object: bus/usb/devices/<dev>/
// with idVendor, idProduct, product and descriptors, and under an interface
// folder <dev>:1.<n>/video4linux/videoN/name. Its layout() points the sysfs
// readers at it, with /dev kept so node paths match a FakeV4l2Device.
//
// fakeUvcDescriptors() builds the raw descriptors of a USB video-class
// camera (device, configuration, interface association, video control with
// header, camera terminal, processing unit and output terminal, interrupt
// endpoint, video streaming) for the descriptor walk and the bus.
//
// Not thread-safe; build the tree before the code under test reads it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "hollowkit/base/bytes.h"
#include "hollowkit/usb/linux/sysfs_usb_bus.h"

namespace hollowkit {

struct FakeUvcDescriptorOptions {
    uint16_t vendorId = 0x2CA3;
    uint16_t productId = 0x00AB;
    uint8_t controlInterface = 0;
    uint8_t cameraTerminalId = 1;
    // Without it the control interface holds only the processing unit and
    // the output terminal.
    bool cameraTerminal = true;
    // Without it the device offers one vendor-specific interface only.
    bool videoControl = true;
};

Bytes fakeUvcDescriptors(const FakeUvcDescriptorOptions& options = {});

class FakeUsbSysfs {
public:
    struct Device {
        std::string name = "1-2";
        uint16_t vendorId = 0x2CA3;
        uint16_t productId = 0x00AB;
        std::string product = "Osmo Pocket 3";
        // Nothing: no descriptors file.
        std::optional<Bytes> descriptors = fakeUvcDescriptors();
    };

    FakeUsbSysfs();
    ~FakeUsbSysfs();
    FakeUsbSysfs(const FakeUsbSysfs&) = delete;
    FakeUsbSysfs& operator=(const FakeUsbSysfs&) = delete;

    const std::filesystem::path& root() const { return root_; }
    UsbSysfsLayout layout() const { return {root_, "/dev"}; }

    // The device's folder; an existing one is replaced.
    std::filesystem::path addDevice(const Device& device);
    // <device>/<device>:1.<interfaceNumber>/video4linux/video<index>/name.
    std::filesystem::path addVideoNode(const std::string& device, uint8_t interfaceNumber, int index,
                                       const std::string& name);
    // As when the device is unplugged.
    void removeDevice(const std::string& device);
    // Any file below the root, for odd cases (a broken idVendor, say).
    void writeFile(const std::filesystem::path& relative, std::string_view contents);

private:
    std::filesystem::path devicesDir() const;

    std::filesystem::path root_;
};

}  // namespace hollowkit
