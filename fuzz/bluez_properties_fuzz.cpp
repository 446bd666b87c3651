// The BlueZ backend's property decoding on arbitrary D-Bus values: the bytes
// describe a run of PropertiesChanged signals for one device, each a list of
// (name, D-Bus type, value) entries and a list of invalidated names. Every
// signal goes through the typed reads and the advertisement fields, then
// the discovery report is made as a scan would. Values D-Bus itself refuses
// (strings that are not UTF-8, bad object paths) are left out, as the bus
// never delivers them.
//
// A signal: a count byte, that many entries (name index, type index, value),
// a byte of invalidated-name bits.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <sdbus-c++/sdbus-c++.h>
#include <string>
#include <vector>

#include "hollowkit/wireless/linux/bluez_properties.h"

namespace {

using namespace hollowkit;

constexpr const char* kNames[] = {"Name",      "Alias", "Address", "RSSI", "UUIDs", "ManufacturerData",
                                  "Connected", "Flags", "MTU",     "TxPower"};
constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];
constexpr uint8_t kAllProperties = BleProperty::kRead | BleProperty::kWriteWithoutResponse | BleProperty::kWrite |
                                   BleProperty::kNotify | BleProperty::kIndicate;
constexpr const char* kDevicePath = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF";

void check(bool condition) {
    if (!condition) std::abort();
}

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return offset_ >= size_; }
    uint8_t byte() { return offset_ < size_ ? data_[offset_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
    std::string text() {
        const size_t length = std::min<size_t>(byte() % 48, size_ - std::min(offset_, size_));
        std::string out(reinterpret_cast<const char*>(data_ + offset_), length);
        offset_ += length;
        return out;
    }
    Bytes bytes() {
        const size_t length = std::min<size_t>(byte() % 40, size_ - std::min(offset_, size_));
        Bytes out(data_ + offset_, data_ + offset_ + length);
        offset_ += length;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

std::vector<std::string> texts(Input& in) {
    std::vector<std::string> out(in.byte() % 5);
    for (auto& text : out) text = in.text();
    return out;
}

// One value of the type `type` names; throws what sdbus-c++ throws for a
// value D-Bus cannot carry.
sdbus::Variant value(Input& in, uint8_t type) {
    switch (type % 9) {
        case 0: return sdbus::Variant(in.text());
        case 1: return sdbus::Variant(static_cast<int16_t>(in.u16()));
        case 2: return sdbus::Variant(in.u16());
        case 3: return sdbus::Variant(in.byte() % 2 == 1);
        case 4: return sdbus::Variant(texts(in));
        case 5: {
            std::map<uint16_t, sdbus::Variant> entries;
            for (int n = in.byte() % 4; n > 0; --n) {
                const uint16_t company = in.u16();
                const uint8_t inner = in.byte();
                entries[company] = inner % 4 == 0 ? sdbus::Variant(in.text()) : sdbus::Variant(in.bytes());
            }
            return sdbus::Variant(entries);
        }
        case 6: return sdbus::Variant(in.bytes());
        case 7: return sdbus::Variant(static_cast<int32_t>(uint32_t{in.u16()} << 16 | in.u16()));
        default: return sdbus::Variant(sdbus::ObjectPath(in.text()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    bluez::AdvertisedFields fields;
    while (!in.empty()) {
        bluez::Properties changed;
        for (int n = in.byte() % 8; n > 0; --n) {
            const char* name = kNames[in.byte() % kNameCount];
            const uint8_t type = in.byte();
            try {
                changed[name] = value(in, type);
            } catch (const std::exception&) {
                // Not a value the bus carries.
            }
        }
        std::vector<std::string> invalidated;
        const uint8_t bits = in.byte();
        for (size_t i = 0; i < 8; ++i) {
            if ((bits & (1u << i)) != 0) invalidated.emplace_back(kNames[i]);
        }

        const auto flags = bluez::propertyValue<std::vector<std::string>>(changed, "Flags");
        check((bluez::propertiesFromFlags(flags.value_or(std::vector<std::string>{})) & ~kAllProperties) == 0);
        (void)bluez::propertyValue<uint16_t>(changed, "MTU");
        (void)bluez::propertyValue<bool>(changed, "Connected");

        bluez::applyAdvertised(fields, changed, invalidated);
        const auto rssi = bluez::propertyValue<int16_t>(changed, "RSSI");
        if (rssi && (bits & 0x08) == 0) check(fields.rssi == rssi);

        const auto discovery = bluez::discoveryOf(kDevicePath, fields);
        check(discovery.has_value() == fields.rssi.has_value());
        if (!discovery) continue;
        check(discovery->peripheral.id == kDevicePath && discovery->rssi == *fields.rssi);
        check(discovery->advertisement.localName == fields.name);
        check(discovery->advertisement.manufacturerData.size() == fields.manufacturerData.size());
        check(discovery->advertisement.serviceUuids.size() <= fields.uuids.size());
        for (const BleUuid& uuid : discovery->advertisement.serviceUuids) check(uuid.text.size() == 36);
        if (discovery->peripheral.name && !fields.name) {
            check(discovery->peripheral.name == fields.alias && fields.alias != fields.address);
        }
    }
    return 0;
}
