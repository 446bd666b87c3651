#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <memory>

#include "hollowkit/wireless/interface_addresses.h"

namespace hollowkit {

std::optional<std::vector<InterfaceAddress>> SystemInterfaceAddresses::list() const {
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) {
        return std::nullopt;
    }
    std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owned(raw, &::freeifaddrs);
    std::vector<InterfaceAddress> found;
    for (const ifaddrs* entry = raw; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_netmask == nullptr || entry->ifa_name == nullptr ||
            entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        const auto* netmask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask);
        found.push_back({entry->ifa_name, ntohl(address->sin_addr.s_addr), ntohl(netmask->sin_addr.s_addr)});
    }
    return found;
}

}  // namespace hollowkit
