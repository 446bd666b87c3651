#pragma once

// BleCentral: the Bluetooth LE central role as the camera link needs it:
// adapter state, LE scanning, connecting, GATT service and characteristic
// discovery, notifications, writes with and without response (with the
// "can send / ready to send" flow control of writes without response) and
// disconnection. One Linux backend (BlueZ over D-Bus) and one in-process fake
// (hollowkit/testing) implement it.
//
// Thread contract: every method is called on the main executor only, and
// every delegate callback is delivered on the main executor, always posted
// (never from inside a call into the central), in the order the events
// happened, and never after the central is destroyed. The delegate must
// outlive the central; the usual owner of a central is its delegate.
//
// Header only: the value types below have inline helpers so that backends and
// fakes need no other file.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/bytes.h"

namespace hollowkit {

class Executor;

// A GATT UUID, kept in the canonical 128-bit lower-case text form BlueZ uses
// ("0000fff0-0000-1000-8000-00805f9b34fb"). 16-bit UUIDs are members of the
// Bluetooth base UUID.
struct BleUuid {
    std::string text;

    auto operator<=>(const BleUuid&) const = default;

    static BleUuid fromShort(uint16_t shortUuid) {
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "0000%04x-0000-1000-8000-00805f9b34fb", shortUuid);
        return BleUuid{buffer};
    }

    // Accepts "fff0", "FFF0", "0000FFF0" and the full 128-bit form in either
    // case; nothing for anything else.
    static std::optional<BleUuid> parse(std::string_view text) {
        auto isHex = [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        };
        auto lower = [](char c) { return (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (text.size() == 4 || text.size() == 8) {
            uint32_t value = 0;
            for (char c : text) {
                if (!isHex(c)) return std::nullopt;
                value = value * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : lower(c) - 'a' + 10);
            }
            if (value > 0xFFFF) {
                char buffer[40];
                std::snprintf(buffer, sizeof buffer, "%08x-0000-1000-8000-00805f9b34fb", value);
                return BleUuid{buffer};
            }
            return fromShort(static_cast<uint16_t>(value));
        }
        if (text.size() != 36) return std::nullopt;
        std::string out;
        out.reserve(36);
        for (size_t i = 0; i < text.size(); ++i) {
            bool dash = i == 8 || i == 13 || i == 18 || i == 23;
            if (dash ? text[i] != '-' : !isHex(text[i])) return std::nullopt;
            out.push_back(lower(text[i]));
        }
        return BleUuid{std::move(out)};
    }

    // The 16-bit form when this UUID lies in the Bluetooth base UUID.
    std::optional<uint16_t> shortForm() const {
        static constexpr std::string_view kBaseTail = "-0000-1000-8000-00805f9b34fb";
        if (text.size() != 36 || text.compare(0, 4, "0000") != 0 || std::string_view(text).substr(8) != kBaseTail) {
            return std::nullopt;
        }
        return static_cast<uint16_t>(std::stoul(text.substr(4, 4), nullptr, 16));
    }
};

// One manufacturer-specific data entry of an advertisement. BlueZ reports
// these as a dictionary keyed by company id; on the air (and in Core
// Bluetooth) the entry is the company id, little-endian, followed by the data.
struct BleManufacturerData {
    uint16_t companyId = 0;
    Bytes data;

    bool operator==(const BleManufacturerData&) const = default;

    // The over-the-air form: company id low byte, high byte, then the data.
    // Company 0x08AA gives AA 08 followed by the data.
    Bytes raw() const {
        Bytes out;
        out.reserve(data.size() + 2);
        out.push_back(static_cast<uint8_t>(companyId & 0xFF));
        out.push_back(static_cast<uint8_t>(companyId >> 8));
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }

    // The entry in `raw`; nothing when it is shorter than the two bytes of the
    // company id.
    static std::optional<BleManufacturerData> fromRaw(ByteView raw) {
        if (raw.size() < 2) return std::nullopt;
        return BleManufacturerData{static_cast<uint16_t>(raw[0] | (raw[1] << 8)), Bytes(raw.begin() + 2, raw.end())};
    }
};

// What one advertisement (or scan response) carried.
struct BleAdvertisement {
    std::optional<std::string> localName;
    std::vector<BleManufacturerData> manufacturerData;  // in the order reported
    std::vector<BleUuid> serviceUuids;

    bool operator==(const BleAdvertisement&) const = default;

    // The entry for `companyId`, when the advertisement has one.
    const BleManufacturerData* manufacturer(uint16_t companyId) const {
        for (const auto& entry : manufacturerData) {
            if (entry.companyId == companyId) return &entry;
        }
        return nullptr;
    }
};

// RSSI value for "not available" (as Core Bluetooth reports it).
inline constexpr int kBleRssiUnavailable = 127;

// A stable identifier of a remote peripheral for the life of the central
// (BlueZ: the Device1 object path; the fake: any unique text).
using BlePeripheralId = std::string;

// A remote peripheral as the central last saw it.
struct BlePeripheral {
    BlePeripheralId id;
    std::optional<std::string> name;  // the device's own name (BlueZ Name/Alias), when known

    bool operator==(const BlePeripheral&) const = default;
};

// A GATT service of a connected peripheral. `handle` is the backend's key for
// it (BlueZ: the GattService1 object path).
struct BleService {
    std::string handle;
    BleUuid uuid;

    bool operator==(const BleService&) const = default;
};

// Characteristic property bits (the GATT declaration's bits).
namespace BleProperty {
inline constexpr uint8_t kRead = 0x02;
inline constexpr uint8_t kWriteWithoutResponse = 0x04;
inline constexpr uint8_t kWrite = 0x08;
inline constexpr uint8_t kNotify = 0x10;
inline constexpr uint8_t kIndicate = 0x20;
}  // namespace BleProperty

// A GATT characteristic of a connected peripheral. `handle` is the backend's
// key for it (BlueZ: the GattCharacteristic1 object path).
struct BleCharacteristic {
    std::string handle;
    BleUuid uuid;
    BleUuid serviceUuid;
    uint8_t properties = 0;  // BleProperty bits

    bool operator==(const BleCharacteristic&) const = default;
};

// A failure reported by the Bluetooth stack, with its user-readable text.
struct BleError {
    std::string description;

    bool operator==(const BleError&) const = default;
};

// The adapter's state, as the central reports it.
enum class BleAdapterState : uint8_t {
    unknown = 0,   // not yet determined
    resetting,     // the stack restarted; a new state follows
    unsupported,   // no Bluetooth LE adapter on this machine
    unauthorized,  // access to the Bluetooth service was denied
    poweredOff,
    poweredOn,
};

inline const char* toString(BleAdapterState state) {
    switch (state) {
        case BleAdapterState::unknown: return "unknown";
        case BleAdapterState::resetting: return "resetting";
        case BleAdapterState::unsupported: return "unsupported";
        case BleAdapterState::unauthorized: return "unauthorized";
        case BleAdapterState::poweredOff: return "poweredOff";
        case BleAdapterState::poweredOn: return "poweredOn";
    }
    return "unknown";
}

enum class BleWriteType : uint8_t {
    withResponse = 1,     // ATT write request; peripheralDidWriteValue reports the outcome
    withoutResponse = 2,  // ATT write command; no outcome is reported
};

// Receives what the central and its peripherals report. All on the main
// executor (see the thread contract above). Identifiers and handles are those
// the central handed out.
class BleCentralDelegate {
public:
    virtual ~BleCentralDelegate() = default;

    // The adapter's state: once soon after start(), then on every change.
    virtual void centralDidUpdateState(BleAdapterState state) = 0;
    // One advertisement seen while scanning. The same peripheral may be
    // reported many times.
    virtual void centralDidDiscover(const BlePeripheral& peripheral, const BleAdvertisement& advertisement,
                                    int rssi) = 0;
    virtual void centralDidConnect(const BlePeripheralId& peripheral) = 0;
    virtual void centralDidFailToConnect(const BlePeripheralId& peripheral, const std::optional<BleError>& error) = 0;
    // The connection ended: by cancelConnection() (no error) or by the link
    // dropping (an error).
    virtual void centralDidDisconnect(const BlePeripheralId& peripheral, const std::optional<BleError>& error) = 0;

    // Answer to discoverServices(): the services found (those asked for), or
    // nothing when the list could not be read.
    virtual void peripheralDidDiscoverServices(const BlePeripheralId& peripheral,
                                               const std::optional<std::vector<BleService>>& services,
                                               const std::optional<BleError>& error) = 0;
    // Answer to discoverCharacteristics(): the service's characteristics (those
    // asked for), in the service's order.
    virtual void peripheralDidDiscoverCharacteristics(const BlePeripheralId& peripheral, const BleService& service,
                                                      const std::vector<BleCharacteristic>& characteristics,
                                                      const std::optional<BleError>& error) = 0;
    // Answer to setNotifyValue().
    virtual void peripheralDidUpdateNotificationState(const BlePeripheralId& peripheral,
                                                      const BleCharacteristic& characteristic,
                                                      const std::optional<BleError>& error) = 0;
    // Outcome of a write with response.
    virtual void peripheralDidWriteValue(const BlePeripheralId& peripheral, const BleCharacteristic& characteristic,
                                         const std::optional<BleError>& error) = 0;
    // A notification (or indication) value; `value` may be empty.
    virtual void peripheralDidUpdateValue(const BlePeripheralId& peripheral, const BleCharacteristic& characteristic,
                                          ByteView value, const std::optional<BleError>& error) = 0;
    // canSendWriteWithoutResponse() turned true again after it was false.
    virtual void peripheralIsReadyToSendWriteWithoutResponse(const BlePeripheralId& peripheral) = 0;
};

class BleCentral {
public:
    virtual ~BleCentral() = default;

    // Attaches the delegate and starts watching the adapter; the first
    // centralDidUpdateState follows (posted). Called once.
    virtual void start(BleCentralDelegate& delegate) = 0;
    // The state last reported to the delegate.
    virtual BleAdapterState state() const = 0;

    // LE scanning with no service filter; every advertisement is reported.
    // Scanning again while scanning changes nothing.
    virtual void scanForPeripherals() = 0;
    virtual void stopScan() = 0;

    // Connects to a peripheral seen in a scan. Ends in centralDidConnect or
    // centralDidFailToConnect.
    virtual void connect(const BlePeripheralId& peripheral) = 0;
    // Ends a connection or a pending connect (which then reports no
    // centralDidConnect). Always answered by exactly one centralDidDisconnect
    // with no error, also when the peripheral was not connected or its
    // connection had already dropped, so a caller waiting for the end never
    // waits in vain.
    virtual void cancelConnection(const BlePeripheralId& peripheral) = 0;

    // Finds the services whose UUIDs are in `uuids` (all when empty).
    virtual void discoverServices(const BlePeripheralId& peripheral, const std::vector<BleUuid>& uuids) = 0;
    // Finds the characteristics of `service` whose UUIDs are in `uuids` (all
    // when empty).
    virtual void discoverCharacteristics(const BlePeripheralId& peripheral, const BleService& service,
                                         const std::vector<BleUuid>& uuids) = 0;
    // Switches notifications on or off; reported by
    // peripheralDidUpdateNotificationState.
    virtual void setNotifyValue(const BlePeripheralId& peripheral, const BleCharacteristic& characteristic,
                                bool enabled) = 0;

    // Writes a value. withResponse ends in peripheralDidWriteValue.
    // withoutResponse is sent only while canSendWriteWithoutResponse() is
    // true; otherwise the write may be dropped, so callers queue instead.
    virtual void writeValue(const BlePeripheralId& peripheral, const BleCharacteristic& characteristic,
                            ByteView value, BleWriteType type) = 0;
    // Whether a write without response can go out now. When this is false,
    // peripheralIsReadyToSendWriteWithoutResponse follows once it is true.
    virtual bool canSendWriteWithoutResponse(const BlePeripheralId& peripheral) const = 0;
    // The longest value one write of `type` carries (ATT MTU - 3 for writes
    // without response); 0 when not known yet.
    virtual size_t maximumWriteValueLength(const BlePeripheralId& peripheral, BleWriteType type) const = 0;
};

// Makes a central for the main executor `main`. Owners (the cameras) take one
// of these so that tests can hand them the in-process fake.
using BleCentralFactory = std::function<std::unique_ptr<BleCentral>(Executor& main)>;

}  // namespace hollowkit
