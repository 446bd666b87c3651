#pragma once

// InterfaceAddresses: the IPv4 addresses and netmasks of this machine's
// network interfaces, as the local-network sweep and the camera Wi-Fi join
// need them. SystemInterfaceAddresses reads them with getifaddrs; tests
// inject a fixed list of 127.0.0.x addresses (hollowkit/testing). Any thread;
// implementations hold no state between calls (or guard it).
//
// Addresses are unsigned 32-bit values with the first octet in the most
// significant byte; dottedQuad() and parseDottedQuad() convert to and from
// text such as "192.168.1.23".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hollowkit {

struct InterfaceAddress {
    std::string interface;  // "wlan0", "lo"
    uint32_t address = 0;
    uint32_t netmask = 0;

    bool operator==(const InterfaceAddress&) const = default;
};

class InterfaceAddresses {
public:
    virtual ~InterfaceAddresses() = default;

    // Every IPv4 address with a netmask, in the order the system lists
    // them; nothing when the list cannot be read.
    virtual std::optional<std::vector<InterfaceAddress>> list() const = 0;
};

// Reads the system's list with getifaddrs.
class SystemInterfaceAddresses final : public InterfaceAddresses {
public:
    std::optional<std::vector<InterfaceAddress>> list() const override;
};

// The first IPv4 entry of `interface`, or nothing (none, or unreadable list).
std::optional<InterfaceAddress> firstIPv4Address(const InterfaceAddresses& addresses, std::string_view interface);

// "a.b.c.d", the first octet from the most significant byte.
std::string dottedQuad(uint32_t address);
// The value of exactly four decimal octets (0...255) separated by dots;
// nothing for anything else.
std::optional<uint32_t> parseDottedQuad(std::string_view text);

}  // namespace hollowkit
