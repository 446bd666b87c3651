#include "hollowkit/testing/fake_usb_sysfs.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace hollowkit {

namespace {

std::string hexId(uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof(text), "%04x\n", id);
    return text;
}

}  // namespace

Bytes fakeUvcDescriptors(const FakeUvcDescriptorOptions& options) {
    ByteWriter out;
    // Device descriptor: USB 2.0, miscellaneous class with interface
    // association (as video-class devices announce themselves).
    out.u8(18).u8(0x01).u16(0x0200).u8(0xEF).u8(0x02).u8(0x01).u8(64);
    out.u16(options.vendorId).u16(options.productId).u16(0x0100).u8(1).u8(2).u8(3).u8(1);

    ByteWriter config;
    if (!options.videoControl) {
        // One vendor-specific interface, no endpoints.
        config.u8(9).u8(0x04).u8(0).u8(0).u8(0).u8(0xFF).u8(0x00).u8(0x00).u8(0);
    } else {
        const uint8_t vc = options.controlInterface;
        const auto vs = static_cast<uint8_t>(vc + 1);
        const uint8_t terminal = options.cameraTerminalId;
        const auto unit = static_cast<uint8_t>(terminal + 1);
        const auto output = static_cast<uint8_t>(terminal + 2);

        ByteWriter units;
        if (options.cameraTerminal) {
            // Camera terminal: bmControls with zoom absolute (bit 9), pan-tilt
            // absolute (11) and pan-tilt relative (12).
            units.u8(18).u8(0x24).u8(0x02).u8(terminal).u16(0x0201).u8(0).u8(0);
            units.u16(0).u16(0).u16(0).u8(3).u8(0x00).u8(0x1A).u8(0x00);
        }
        // Processing unit (brightness, contrast) fed by the terminal.
        units.u8(13).u8(0x24).u8(0x05).u8(unit).u8(terminal).u16(0).u8(3).u8(0x03).u8(0x00).u8(0x00).u8(0).u8(0);
        // Output terminal (USB streaming) fed by the processing unit.
        units.u8(9).u8(0x24).u8(0x03).u8(output).u16(0x0101).u8(0).u8(unit).u8(0);

        const uint16_t headerLength = 13;
        const auto totalLength = static_cast<uint16_t>(headerLength + units.size());

        // Interface association: one video function of two interfaces.
        config.u8(8).u8(0x0B).u8(vc).u8(2).u8(0x0E).u8(0x03).u8(0x00).u8(0);
        // Video control interface, one interrupt endpoint.
        config.u8(9).u8(0x04).u8(vc).u8(0).u8(1).u8(0x0E).u8(0x01).u8(0x00).u8(0);
        // Video control header: UVC 1.10, one streaming interface.
        config.u8(13).u8(0x24).u8(0x01).u16(0x0110).u16(totalLength).u32(48000000).u8(1).u8(vs);
        config.append(units.bytes());
        // Interrupt endpoint and its class-specific part.
        config.u8(7).u8(0x05).u8(0x83).u8(0x03).u16(16).u8(6);
        config.u8(5).u8(0x25).u8(0x03).u16(16);
        // Video streaming interface, alternate setting 0, with an input
        // header and no formats (the walk does not look further).
        config.u8(9).u8(0x04).u8(vs).u8(0).u8(0).u8(0x0E).u8(0x02).u8(0x00).u8(0);
        config.u8(13).u8(0x24).u8(0x01).u8(0).u16(13).u8(0x81).u8(0).u8(output).u8(0).u8(0).u8(0).u8(0);
    }
    const auto configTotal = static_cast<uint16_t>(9 + config.size());
    const uint8_t interfaces = options.videoControl ? 2 : 1;
    out.u8(9).u8(0x02).u16(configTotal).u8(interfaces).u8(1).u8(0).u8(0x80).u8(250);
    out.append(config.bytes());
    return std::move(out).take();
}

FakeUsbSysfs::FakeUsbSysfs() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/hollowkit-sysfs-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    fs::create_directories(devicesDir());
}

FakeUsbSysfs::~FakeUsbSysfs() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

fs::path FakeUsbSysfs::devicesDir() const {
    return root_ / "bus" / "usb" / "devices";
}

fs::path FakeUsbSysfs::addDevice(const Device& device) {
    const fs::path dir = devicesDir() / device.name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    const fs::path relative = fs::relative(dir, root_);
    writeFile(relative / "idVendor", hexId(device.vendorId));
    writeFile(relative / "idProduct", hexId(device.productId));
    writeFile(relative / "product", device.product + "\n");
    if (device.descriptors) {
        writeFile(relative / "descriptors",
                  std::string_view(reinterpret_cast<const char*>(device.descriptors->data()),
                                   device.descriptors->size()));
    }
    return dir;
}

fs::path FakeUsbSysfs::addVideoNode(const std::string& device, uint8_t interfaceNumber, int index,
                                    const std::string& name) {
    const std::string interfaceName = device + ":1." + std::to_string(interfaceNumber);
    const fs::path relative =
        fs::path("bus") / "usb" / "devices" / device / interfaceName / "video4linux" / ("video" + std::to_string(index));
    writeFile(relative / "name", name + "\n");
    writeFile(fs::path("bus") / "usb" / "devices" / device / interfaceName / "bInterfaceNumber",
              hexId(interfaceNumber).substr(2));
    return root_ / relative;
}

void FakeUsbSysfs::removeDevice(const std::string& device) {
    std::error_code ec;
    fs::remove_all(devicesDir() / device, ec);
}

void FakeUsbSysfs::writeFile(const fs::path& relative, std::string_view contents) {
    const fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

}  // namespace hollowkit
