#include "hollowkit/wireless/linux/bluez_properties.h"

namespace hollowkit::bluez {

uint8_t propertiesFromFlags(const std::vector<std::string>& flags) {
    uint8_t bits = 0;
    for (const auto& flag : flags) {
        if (flag == "read") bits |= BleProperty::kRead;
        else if (flag == "write-without-response") bits |= BleProperty::kWriteWithoutResponse;
        else if (flag == "write") bits |= BleProperty::kWrite;
        else if (flag == "notify") bits |= BleProperty::kNotify;
        else if (flag == "indicate") bits |= BleProperty::kIndicate;
    }
    return bits;
}

void applyAdvertised(AdvertisedFields& fields, const Properties& changed, const std::vector<std::string>& invalidated) {
    if (auto name = propertyValue<std::string>(changed, "Name")) fields.name = std::move(name);
    if (auto alias = propertyValue<std::string>(changed, "Alias")) fields.alias = std::move(alias);
    if (auto address = propertyValue<std::string>(changed, "Address")) fields.address = std::move(address);
    if (auto rssi = propertyValue<int16_t>(changed, "RSSI")) fields.rssi = rssi;
    if (auto uuids = propertyValue<std::vector<std::string>>(changed, "UUIDs")) fields.uuids = std::move(*uuids);
    // BlueZ keys manufacturer data by company id: {0x08AA: <data>} is what
    // the air carried as AA 08 <data>.
    if (auto entries = propertyValue<std::map<uint16_t, sdbus::Variant>>(changed, "ManufacturerData")) {
        fields.manufacturerData.clear();
        for (const auto& [companyId, value] : *entries) {
            try {
                if (value.containsValueOfType<std::vector<uint8_t>>()) {
                    fields.manufacturerData[companyId] = value.get<std::vector<uint8_t>>();
                }
            } catch (const std::exception&) {
            }
        }
    }
    for (const auto& name : invalidated) {
        if (name == "RSSI") fields.rssi.reset();
        else if (name == "Name") fields.name.reset();
        else if (name == "ManufacturerData") fields.manufacturerData.clear();
        else if (name == "UUIDs") fields.uuids.clear();
    }
}

std::optional<Discovery> discoveryOf(const std::string& path, const AdvertisedFields& fields) {
    if (!fields.rssi) return std::nullopt;
    Discovery discovery;
    discovery.peripheral = BlePeripheral{path, fields.name};
    if (!fields.name && fields.alias) {
        // Without a name BlueZ's Alias is the address with dashes; that is no name.
        std::string dashed = fields.address.value_or("");
        for (auto& c : dashed) {
            if (c == ':') c = '-';
        }
        if (*fields.alias != dashed && *fields.alias != fields.address.value_or("")) {
            discovery.peripheral.name = fields.alias;
        }
    }
    discovery.advertisement.localName = fields.name;
    for (const auto& [companyId, data] : fields.manufacturerData) {
        discovery.advertisement.manufacturerData.push_back(BleManufacturerData{companyId, data});
    }
    for (const auto& text : fields.uuids) {
        if (auto uuid = BleUuid::parse(text)) discovery.advertisement.serviceUuids.push_back(*uuid);
    }
    discovery.rssi = *fields.rssi;
    return discovery;
}

}  // namespace hollowkit::bluez
