#include "hollowkit/testing/fake_interface_addresses.h"

#include <cstdlib>

namespace hollowkit {

InterfaceAddress FakeInterfaceAddresses::entry(std::string interface, std::string_view address,
                                               std::string_view netmask) {
    auto parsedAddress = parseDottedQuad(address);
    auto parsedNetmask = parseDottedQuad(netmask);
    if (!parsedAddress || !parsedNetmask) {
        std::abort();
    }
    return {std::move(interface), *parsedAddress, *parsedNetmask};
}

void FakeInterfaceAddresses::set(std::vector<InterfaceAddress> entries) {
    std::lock_guard lock(mutex_);
    entries_ = std::move(entries);
}

void FakeInterfaceAddresses::setUnreadable(bool unreadable) {
    std::lock_guard lock(mutex_);
    unreadable_ = unreadable;
}

std::optional<std::vector<InterfaceAddress>> FakeInterfaceAddresses::list() const {
    std::lock_guard lock(mutex_);
    if (unreadable_) {
        return std::nullopt;
    }
    return entries_;
}

}  // namespace hollowkit
