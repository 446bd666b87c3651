#include "hollowkit/testing/fake_interface_addresses.h"

#include <cstdlib>

#include "hollowkit/base/mutex.h"

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
    MutexLock lock(mutex_);
    entries_ = std::move(entries);
}

void FakeInterfaceAddresses::setUnreadable(bool unreadable) {
    MutexLock lock(mutex_);
    unreadable_ = unreadable;
}

std::optional<std::vector<InterfaceAddress>> FakeInterfaceAddresses::list() const {
    MutexLock lock(mutex_);
    if (unreadable_) {
        return std::nullopt;
    }
    return entries_;
}

}  // namespace hollowkit
