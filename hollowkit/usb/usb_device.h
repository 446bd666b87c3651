#pragma once

// The USB device access layer: find the camera's USB device, reach its
// video-class video-control interface, learn the camera terminal's id from
// the class-specific descriptors, and send UVC class control requests to
// that terminal. It knows nothing of pan, tilt or zoom; UVCCameraControls
// gives the requests their meaning.
//
// The platform sits behind two interfaces: UsbBus lists devices and opens
// the control path of one, UvcTransport carries one request. On Linux
// (linux/sysfs_usb_bus.h) the devices come from sysfs and the requests
// travel as V4L2 controls of the camera's video node, because uvcvideo owns
// the interface. No lock, no thread, no global state: one handle per opened
// device, used by one thread at a time (UVCCameraControls serialises).

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hollowkit/base/bytes.h"

namespace hollowkit {

// UVC request codes (bRequest).
inline constexpr uint8_t kUvcSetCur = 0x01;
inline constexpr uint8_t kUvcGetCur = 0x81;
inline constexpr uint8_t kUvcGetMin = 0x82;
inline constexpr uint8_t kUvcGetMax = 0x83;
inline constexpr uint8_t kUvcGetRes = 0x84;
inline constexpr uint8_t kUvcGetDef = 0x87;

// Camera-terminal control selectors used by the library.
inline constexpr uint8_t kUvcCtZoomAbsolute = 0x0B;
inline constexpr uint8_t kUvcCtPanTiltAbsolute = 0x0D;
inline constexpr uint8_t kUvcCtPanTiltRelative = 0x0E;

// The setup stage of one class request addressed to a unit or terminal.
struct UvcSetupPacket {
    uint8_t requestType = 0;  // bmRequestType
    uint8_t request = 0;      // bRequest
    uint16_t value = 0;       // wValue: control selector in the high byte
    uint16_t index = 0;       // wIndex: entity id high, interface number low
    uint16_t length = 0;      // wLength

    bool operator==(const UvcSetupPacket&) const = default;

    uint8_t selector() const { return static_cast<uint8_t>(value >> 8); }
    bool isGet() const { return (requestType & 0x80) != 0; }
};

// bmRequestType (request AND 0x80) OR 0x21: class, interface, with the
// direction taken from the request code (GET codes have bit 7 set).
UvcSetupPacket makeUvcSetupPacket(uint8_t request, uint8_t selector, uint8_t terminalId,
                                  uint8_t interfaceNumber, uint16_t length);

// Carries UVC requests to one device's camera terminal.
class UvcTransport {
public:
    virtual ~UvcTransport() = default;

    // Sends `data` (SET requests) or fills it (GET requests); data.size()
    // equals setup.length. Returns 0 on success, otherwise a positive errno
    // value saying why (the platform's status, passed on unchanged).
    virtual int controlRequest(const UvcSetupPacket& setup, std::span<uint8_t> data) = 0;

    // Whether the control path was opened; a transport that could not be
    // opened still exists and fails every request.
    virtual bool isOpen() const = 0;
};

// One USB device as the bus lists it.
struct UsbDeviceRecord {
    std::string name;  // the bus's own name for it ("1-2" in sysfs)
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string product;  // the product string, empty when unknown

    bool operator==(const UsbDeviceRecord&) const = default;
};

// The platform's list of USB devices and the way to one's control interface.
class UsbBus {
public:
    virtual ~UsbBus() = default;

    // Every USB device present now, in a stable order.
    virtual std::vector<UsbDeviceRecord> devices() = 0;
    // The raw device and configuration descriptors; nothing when unreadable.
    virtual std::optional<Bytes> descriptors(const UsbDeviceRecord& device) = 0;
    // The names of the device's video nodes, capture and metadata nodes
    // alike (an empty name for a node that gives none), from the bus's own
    // listing: no node is opened. Empty when the device offers no video now
    // (a camera that is not in webcam mode).
    virtual std::vector<std::string> videoNodeNames(const UsbDeviceRecord& device) = 0;
    // The control path to the device's video-control interface
    // `interfaceNumber`; null when the device offers no usable one. A
    // transport whose open failed is returned (isOpen() false).
    virtual std::unique_ptr<UvcTransport> openVideoControl(const UsbDeviceRecord& device,
                                                           uint8_t interfaceNumber) = 0;
};

// One opened device. Owned by whoever received it from openUSBDevice;
// destroying it (or closeUSBDevice) closes the control path.
class USBDeviceHandle {
public:
    USBDeviceHandle(std::unique_ptr<UvcTransport> transport, uint8_t interfaceNumber,
                    uint8_t cameraTerminalId, uint16_t productId);
    USBDeviceHandle(const USBDeviceHandle&) = delete;
    USBDeviceHandle& operator=(const USBDeviceHandle&) = delete;

    uint8_t interfaceNumber() const { return interfaceNumber_; }
    uint8_t cameraTerminalId() const { return cameraTerminalId_; }
    // The product id of the device that was opened (not the one asked for).
    uint16_t productId() const { return productId_; }
    bool isOpen() const { return transport_->isOpen(); }

    UvcTransport& transport() { return *transport_; }

private:
    const std::unique_ptr<UvcTransport> transport_;
    const uint8_t interfaceNumber_;
    const uint8_t cameraTerminalId_;
    const uint16_t productId_;
};

// The first device on `bus` whose vendor is `vendor` and whose product is
// `product` (0: any product of the vendor) that has a usable video-control
// interface; ids are compared in their low 16 bits. Devices without such an
// interface, or whose descriptors cannot be read, are skipped. Null when
// none is left.
std::unique_ptr<USBDeviceHandle> openUSBDevice(UsbBus& bus, uint32_t vendor, uint32_t product);

// Closes the control path and frees the handle; null is ignored.
void closeUSBDevice(std::unique_ptr<USBDeviceHandle> handle);

// One UVC class request to the handle's camera terminal: `data` is sent
// (SET) or filled (GET). Returns 0 or the transport's errno value, unchanged.
// Logs nothing. Data longer than 65535 bytes cannot be addressed and fails
// with EINVAL before anything is sent.
int usbControlRequest(USBDeviceHandle& handle, uint8_t request, uint8_t selector,
                      std::span<uint8_t> data);

}  // namespace hollowkit
