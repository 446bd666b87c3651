#include "hollowkit/usb/linux/sysfs_usb_bus.h"

#include <fcntl.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <charconv>
#include <iterator>
#include <system_error>

#include "hollowkit/base/bounded_file.h"
#include "hollowkit/usb/linux/v4l2_uvc_transport.h"

namespace fs = std::filesystem;

namespace hollowkit {

namespace {

// Descriptors are at most a few KiB; the cap only guards against a file
// that is not what it claims to be.
constexpr uint64_t kMaxDescriptorBytes = 256 * 1024;
// Sysfs states a text attribute's size as one page.
constexpr uint64_t kMaxTextBytes = 4096;

fs::path usbDevicesDir(const UsbSysfsLayout& layout) {
    return layout.sysfsRoot / "bus" / "usb" / "devices";
}

// The tree's root can be any folder (tests, containers): what stands there
// is read within bounds like any file from outside.
std::optional<std::string> readFile(const fs::path& path, uint64_t limit) {
    auto data = readBoundedText(path, limit);
    if (!data) return std::nullopt;
    return std::move(data).value();
}

std::optional<std::string> readText(const fs::path& path) {
    auto text = readFile(path, kMaxTextBytes);
    if (!text) return std::nullopt;
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r' || text->back() == ' ')) {
        text->pop_back();
    }
    return text;
}

std::optional<uint16_t> readHexId(const fs::path& path) {
    const auto text = readText(path);
    if (!text || text->empty()) return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value, 16);
    if (ec != std::errc() || end != text->data() + text->size() || value > 0xFFFF) return std::nullopt;
    return static_cast<uint16_t>(value);
}

template <typename T>
std::optional<T> parseDecimal(std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

std::vector<std::string> sortedEntries(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<UsbDeviceRecord> readDevice(const UsbSysfsLayout& layout, const std::string& name) {
    const fs::path dir = usbDevicesDir(layout) / name;
    const auto vendor = readHexId(dir / "idVendor");
    if (!vendor) return std::nullopt;
    UsbDeviceRecord record;
    record.name = name;
    record.vendorId = *vendor;
    record.productId = readHexId(dir / "idProduct").value_or(0);
    record.product = readText(dir / "product").value_or("");
    return record;
}

}  // namespace

std::vector<UsbDeviceRecord> listUsbDevices(const UsbSysfsLayout& layout) {
    std::vector<UsbDeviceRecord> devices;
    for (const std::string& name : sortedEntries(usbDevicesDir(layout))) {
        if (name.find(':') != std::string::npos) continue;  // an interface, not a device
        if (auto record = readDevice(layout, name)) devices.push_back(std::move(*record));
    }
    return devices;
}

std::vector<UsbVideoNode> usbVideoNodesOf(const UsbSysfsLayout& layout, const UsbDeviceRecord& device,
                                          std::optional<uint8_t> preferredInterface) {
    std::vector<UsbVideoNode> nodes;
    const fs::path dir = usbDevicesDir(layout) / device.name;
    const std::string prefix = device.name + ":";
    for (const std::string& interfaceName : sortedEntries(dir)) {
        if (interfaceName.rfind(prefix, 0) != 0) continue;
        const size_t dot = interfaceName.rfind('.');
        if (dot == std::string::npos) continue;
        const auto interfaceNumber = parseDecimal<unsigned>(std::string_view(interfaceName).substr(dot + 1));
        if (!interfaceNumber || *interfaceNumber > 0xFF) continue;
        const fs::path classDir = dir / interfaceName / "video4linux";
        for (const std::string& nodeName : sortedEntries(classDir)) {
            if (nodeName.rfind("video", 0) != 0) continue;
            const auto index = parseDecimal<int>(std::string_view(nodeName).substr(5));
            if (!index) continue;
            UsbVideoNode node;
            node.node = nodeName;
            node.index = *index;
            node.devicePath = layout.devRoot / nodeName;
            node.name = readText(classDir / nodeName / "name").value_or("");
            node.interfaceNumber = static_cast<uint8_t>(*interfaceNumber);
            node.device = device;
            nodes.push_back(std::move(node));
        }
    }
    std::stable_sort(nodes.begin(), nodes.end(), [&](const UsbVideoNode& a, const UsbVideoNode& b) {
        const bool aPreferred = preferredInterface && a.interfaceNumber == *preferredInterface;
        const bool bPreferred = preferredInterface && b.interfaceNumber == *preferredInterface;
        if (aPreferred != bPreferred) return aPreferred;
        return a.index < b.index;
    });
    return nodes;
}

std::vector<UsbVideoNode> listUsbVideoNodes(const UsbSysfsLayout& layout) {
    std::vector<UsbVideoNode> nodes;
    for (const UsbDeviceRecord& device : listUsbDevices(layout)) {
        auto own = usbVideoNodesOf(layout, device);
        nodes.insert(nodes.end(), std::make_move_iterator(own.begin()), std::make_move_iterator(own.end()));
    }
    return nodes;
}

Result<bool, int> v4l2NodeCapturesVideo(V4l2Io& io, int fd) {
    v4l2_capability caps{};
    const int result = io.ioctl(fd, VIDIOC_QUERYCAP, &caps);
    if (result < 0) return unexpected(result);
    const uint32_t nodeCaps = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? caps.device_caps : caps.capabilities;
    return (nodeCaps & V4L2_CAP_VIDEO_CAPTURE) != 0;
}

SysfsUsbBus::SysfsUsbBus(V4l2Io& io, UsbSysfsLayout layout) : io_(io), layout_(std::move(layout)) {}

std::vector<UsbDeviceRecord> SysfsUsbBus::devices() {
    return listUsbDevices(layout_);
}

std::optional<Bytes> SysfsUsbBus::descriptors(const UsbDeviceRecord& device) {
    const auto data = readFile(usbDevicesDir(layout_) / device.name / "descriptors", kMaxDescriptorBytes);
    if (!data) return std::nullopt;
    return Bytes(data->begin(), data->end());
}

std::vector<std::string> SysfsUsbBus::videoNodeNames(const UsbDeviceRecord& device) {
    std::vector<std::string> names;
    for (UsbVideoNode& node : usbVideoNodesOf(layout_, device)) names.push_back(std::move(node.name));
    return names;
}

std::unique_ptr<UvcTransport> SysfsUsbBus::openVideoControl(const UsbDeviceRecord& device, uint8_t interfaceNumber) {
    const auto nodes = usbVideoNodesOf(layout_, device, interfaceNumber);
    if (nodes.empty()) return nullptr;
    int firstOpenError = 0;
    // A node that opens but does not answer QUERYCAP is kept in reserve: the
    // handle then exists and its requests report the device's errors.
    V4l2Fd unanswered;
    for (const UsbVideoNode& node : nodes) {
        const int fd = io_.open(node.devicePath.string(), O_RDWR | O_NONBLOCK);
        if (fd < 0) {
            if (firstOpenError == 0) firstOpenError = -fd;
            continue;
        }
        V4l2Fd opened(io_, fd);
        const auto captures = v4l2NodeCapturesVideo(io_, fd);
        if (captures && *captures) return std::make_unique<V4l2UvcTransport>(std::move(opened));
        if (!captures && !unanswered.valid()) unanswered = std::move(opened);
    }
    if (unanswered.valid()) return std::make_unique<V4l2UvcTransport>(std::move(unanswered));
    // Only nodes that do not capture (metadata): no usable interface.
    if (firstOpenError == 0) return nullptr;
    return std::make_unique<V4l2UvcTransport>(V4l2Fd(), firstOpenError);
}

}  // namespace hollowkit
