#pragma once

// What the BlueZ backend reads out of BlueZ's D-Bus properties: one typed
// property that tolerates any other type, a characteristic's flags, and a
// device's advertised fields with the discovery report made from them.
// Pure functions over values already off the bus; any thread. Private to
// the BlueZ backend (and its fuzz target).

#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <sdbus-c++/Types.h>
#include <string>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/wireless/ble_central.h"

namespace hollowkit::bluez {

using Properties = std::map<std::string, sdbus::Variant>;

// A property of the expected D-Bus type; nothing when it is absent or of
// another type (a misbehaving service must not take the thread down).
template <typename T>
std::optional<T> propertyValue(const Properties& properties, const std::string& name) {
    auto it = properties.find(name);
    if (it == properties.end()) return std::nullopt;
    try {
        if (!it->second.containsValueOfType<T>()) return std::nullopt;
        return it->second.template get<T>();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// BleProperty bits from a GattCharacteristic1 "Flags" list; unknown flags
// are ignored.
uint8_t propertiesFromFlags(const std::vector<std::string>& flags);

// The Device1 properties that make up what a scan reports.
struct AdvertisedFields {
    std::optional<std::string> name;
    std::optional<std::string> alias;
    std::optional<std::string> address;
    std::optional<int16_t> rssi;
    std::map<uint16_t, Bytes> manufacturerData;
    std::vector<std::string> uuids;

    bool operator==(const AdvertisedFields&) const = default;
};

// Takes changed properties and invalidated names into `fields`. A property
// of an unexpected type leaves its field as it was; a manufacturer entry of
// another type is skipped.
void applyAdvertised(AdvertisedFields& fields, const Properties& changed, const std::vector<std::string>& invalidated);

struct Discovery {
    BlePeripheral peripheral;
    BleAdvertisement advertisement;
    int rssi = 0;

    bool operator==(const Discovery&) const = default;
};

// The report for the device at `path`. Nothing without an RSSI: such a
// device is BlueZ's memory of an earlier scan, not an advertisement seen now.
std::optional<Discovery> discoveryOf(const std::string& path, const AdvertisedFields& fields);

}  // namespace hollowkit::bluez
