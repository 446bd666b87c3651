#include "hollowkit/usb/usb_device.h"

#include <cerrno>
#include <limits>

#include "hollowkit/usb/uvc_descriptors.h"

namespace hollowkit {

UvcSetupPacket makeUvcSetupPacket(uint8_t request, uint8_t selector, uint8_t terminalId,
                                  uint8_t interfaceNumber, uint16_t length) {
    return UvcSetupPacket{
        .requestType = static_cast<uint8_t>((request & 0x80) | 0x21),
        .request = request,
        .value = static_cast<uint16_t>(selector << 8),
        .index = static_cast<uint16_t>((terminalId << 8) | interfaceNumber),
        .length = length,
    };
}

USBDeviceHandle::USBDeviceHandle(std::unique_ptr<UvcTransport> transport, uint8_t interfaceNumber,
                                 uint8_t cameraTerminalId, uint16_t productId)
    : transport_(std::move(transport)),
      interfaceNumber_(interfaceNumber),
      cameraTerminalId_(cameraTerminalId),
      productId_(productId) {}

std::unique_ptr<USBDeviceHandle> openUSBDevice(UsbBus& bus, uint32_t vendor, uint32_t product) {
    const auto wantedVendor = static_cast<uint16_t>(vendor);
    const auto wantedProduct = static_cast<uint16_t>(product);
    for (const UsbDeviceRecord& device : bus.devices()) {
        if (device.vendorId != wantedVendor || (wantedProduct != 0 && device.productId != wantedProduct)) {
            continue;
        }
        const auto descriptors = bus.descriptors(device);
        if (!descriptors) {
            continue;
        }
        const auto address = videoControlAddress(*descriptors);
        if (!address) {
            continue;
        }
        auto transport = bus.openVideoControl(device, address->interfaceNumber);
        if (!transport) {
            continue;
        }
        return std::make_unique<USBDeviceHandle>(std::move(transport), address->interfaceNumber,
                                                 address->cameraTerminalId, device.productId);
    }
    return nullptr;
}

void closeUSBDevice(std::unique_ptr<USBDeviceHandle> handle) {
    handle.reset();
}

int usbControlRequest(USBDeviceHandle& handle, uint8_t request, uint8_t selector, std::span<uint8_t> data) {
    if (data.size() > std::numeric_limits<uint16_t>::max()) {
        return EINVAL;
    }
    const UvcSetupPacket setup = makeUvcSetupPacket(request, selector, handle.cameraTerminalId(),
                                                    handle.interfaceNumber(), static_cast<uint16_t>(data.size()));
    return handle.transport().controlRequest(setup, data);
}

}  // namespace hollowkit
