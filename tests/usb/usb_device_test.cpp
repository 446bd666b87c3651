#include "hollowkit/usb/usb_device.h"

#include <gtest/gtest.h>

#include <map>

#include "hollowkit/testing/fake_usb_sysfs.h"
#include "usb_test_support.h"

namespace hollowkit {
namespace {

using testsupport::ScriptedTransport;
using testsupport::TransportScript;

TEST(UsbDeviceTest, SetupPackets) {
    struct Case {
        uint8_t request, selector, terminal, interface;
        uint16_t length;
        UvcSetupPacket expected;
    };
    const std::vector<Case> cases = {
        {kUvcGetCur, 0x0D, 1, 0, 8, {0xA1, 0x81, 0x0D00, 0x0100, 8}},
        {kUvcGetMin, 0x0B, 1, 0, 2, {0xA1, 0x82, 0x0B00, 0x0100, 2}},
        {kUvcGetMax, 0x0B, 1, 0, 2, {0xA1, 0x83, 0x0B00, 0x0100, 2}},
        {kUvcSetCur, 0x0E, 3, 2, 4, {0x21, 0x01, 0x0E00, 0x0302, 4}},
        {kUvcSetCur, 0xFF, 0xFF, 0xFF, 0xFFFF, {0x21, 0x01, 0xFF00, 0xFFFF, 0xFFFF}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(makeUvcSetupPacket(c.request, c.selector, c.terminal, c.interface, c.length), c.expected);
    }
}

TEST(UsbDeviceTest, RequestsAreAddressedToTheHandlesTerminalAndStatusPassesThrough) {
    auto script = std::make_shared<TransportScript>();
    script->failures[{kUvcSetCur, 0x0E}] = 0x1234;
    USBDeviceHandle handle(std::make_unique<ScriptedTransport>(script), 2, 6, 0xAB);
    Bytes data{1, 0x23, 0, 0};

    EXPECT_EQ(usbControlRequest(handle, kUvcSetCur, 0x0E, data), 0x1234);

    const auto sent = script->sentCopy();
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_EQ(sent[0].setup, (UvcSetupPacket{0x21, 0x01, 0x0E00, 0x0602, 4}));
    EXPECT_EQ(sent[0].data, data);
}

// A bus that exists only in memory, with per-device answers.
class MemoryUsbBus final : public UsbBus {
public:
    struct Entry {
        UsbDeviceRecord record;
        std::optional<Bytes> descriptors;
        bool reachable = true;  // openVideoControl gives a transport
    };

    std::vector<Entry> entries;
    std::vector<std::string> opened;

    std::vector<UsbDeviceRecord> devices() override {
        std::vector<UsbDeviceRecord> out;
        for (const Entry& e : entries) out.push_back(e.record);
        return out;
    }
    std::optional<Bytes> descriptors(const UsbDeviceRecord& device) override {
        return find(device).descriptors;
    }
    std::vector<std::string> videoNodeNames(const UsbDeviceRecord&) override { return {}; }
    std::unique_ptr<UvcTransport> openVideoControl(const UsbDeviceRecord& device, uint8_t) override {
        opened.push_back(device.name);
        if (!find(device).reachable) return nullptr;
        return std::make_unique<ScriptedTransport>(std::make_shared<TransportScript>());
    }

private:
    const Entry& find(const UsbDeviceRecord& device) const {
        for (const Entry& e : entries) {
            if (e.record.name == device.name) return e;
        }
        throw std::logic_error("unknown device");
    }
};

MemoryUsbBus::Entry camera(std::string name, uint16_t vendor, uint16_t product, uint8_t terminal = 1) {
    return {{std::move(name), vendor, product, "camera"},
            fakeUvcDescriptors({.vendorId = vendor, .productId = product, .cameraTerminalId = terminal}),
            true};
}

TEST(UsbDeviceTest, OpensTheFirstMatchingDeviceThatHasAVideoControlInterface) {
    struct Case {
        const char* name;
        std::vector<MemoryUsbBus::Entry> entries;
        uint32_t vendor;
        uint32_t product;
        std::optional<std::string> opened;  // the device whose handle comes back
        uint16_t productId = 0;
        uint8_t terminal = 1;
    };
    MemoryUsbBus::Entry noVideoControl = camera("1-1", 0x2CA3, 0x0010);
    noVideoControl.descriptors = fakeUvcDescriptors({.videoControl = false});
    MemoryUsbBus::Entry noDescriptors = camera("1-1", 0x2CA3, 0x0010);
    noDescriptors.descriptors.reset();
    MemoryUsbBus::Entry unreachable = camera("1-1", 0x2CA3, 0x0010);
    unreachable.reachable = false;

    const std::vector<Case> cases = {
        {"product 0 takes any product", {camera("1-4", 0x2CA3, 0x00AB, 3)}, 0x2CA3, 0, "1-4", 0x00AB, 3},
        {"a product that differs is skipped", {camera("1-4", 0x2CA3, 0x00AB)}, 0x2CA3, 0x00AC, std::nullopt},
        {"the asked product", {camera("1-3", 0x2CA3, 0x00AA), camera("1-4", 0x2CA3, 0x00AB)}, 0x2CA3, 0x00AB,
         "1-4", 0x00AB},
        {"another vendor is skipped", {camera("1-3", 0x046D, 0x0825), camera("1-4", 0x2CA3, 0x00AB)}, 0x2CA3, 0,
         "1-4", 0x00AB},
        {"ids compare in their low 16 bits", {camera("1-4", 0x2CA3, 0x00AB)}, 0x12CA3, 0x100AB, "1-4", 0x00AB},
        {"first of several", {camera("1-3", 0x2CA3, 0x0001, 4), camera("1-4", 0x2CA3, 0x0002, 5)}, 0x2CA3, 0,
         "1-3", 0x0001, 4},
        {"no video control, then a later device", {noVideoControl, camera("1-4", 0x2CA3, 0x00AB)}, 0x2CA3, 0,
         "1-4", 0x00AB},
        {"unreadable descriptors, then a later device", {noDescriptors, camera("1-4", 0x2CA3, 0x00AB)}, 0x2CA3, 0,
         "1-4", 0x00AB},
        {"no reachable node, then a later device", {unreachable, camera("1-4", 0x2CA3, 0x00AB)}, 0x2CA3, 0, "1-4",
         0x00AB},
        {"nothing left", {noVideoControl, unreachable}, 0x2CA3, 0, std::nullopt},
        {"empty bus", {}, 0x2CA3, 0, std::nullopt},
    };
    for (const Case& c : cases) {
        MemoryUsbBus bus;
        bus.entries = c.entries;
        auto handle = openUSBDevice(bus, c.vendor, c.product);
        ASSERT_EQ(handle != nullptr, c.opened.has_value()) << c.name;
        if (!handle) continue;
        EXPECT_EQ(bus.opened.back(), *c.opened) << c.name;
        EXPECT_EQ(handle->productId(), c.productId) << c.name;
        EXPECT_EQ(handle->cameraTerminalId(), c.terminal) << c.name;
        EXPECT_EQ(handle->interfaceNumber(), 0) << c.name;
        closeUSBDevice(std::move(handle));
    }
    closeUSBDevice(nullptr);
}

}  // namespace
}  // namespace hollowkit
