#include "hollowkit/wireless/interface_addresses.h"

#include <cstdio>

namespace hollowkit {

std::optional<InterfaceAddress> firstIPv4Address(const InterfaceAddresses& addresses, std::string_view interface) {
    auto entries = addresses.list();
    if (!entries) {
        return std::nullopt;
    }
    for (const auto& entry : *entries) {
        if (entry.interface == interface) {
            return entry;
        }
    }
    return std::nullopt;
}

std::string dottedQuad(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
    return text;
}

std::optional<uint32_t> parseDottedQuad(std::string_view text) {
    uint32_t value = 0;
    size_t position = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (position >= text.size() || text[position] != '.') {
                return std::nullopt;
            }
            ++position;
        }
        size_t digits = 0;
        uint32_t part = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9' && digits < 3) {
            part = part * 10 + static_cast<uint32_t>(text[position] - '0');
            ++position;
            ++digits;
        }
        if (digits == 0 || part > 255) {
            return std::nullopt;
        }
        value = (value << 8) | part;
    }
    if (position != text.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace hollowkit
