#pragma once

// FakeInterfaceAddresses: an InterfaceAddresses with a list the test sets,
// typically 127.0.0.x addresses on "lo" with a /24 netmask, so the sweep and
// the Wi-Fi join see a small loopback subnet. Can also play an unreadable
// list. Thread-safe: tests may change the list while a worker reads it.

#include <string_view>
#include <vector>

#include "hollowkit/base/mutex.h"
#include "hollowkit/wireless/interface_addresses.h"

namespace hollowkit {

class FakeInterfaceAddresses final : public InterfaceAddresses {
public:
    explicit FakeInterfaceAddresses(std::vector<InterfaceAddress> entries = {}) : entries_(std::move(entries)) {}

    // An entry from dotted texts; aborts on a malformed address (a test bug).
    static InterfaceAddress entry(std::string interface, std::string_view address, std::string_view netmask);

    void set(std::vector<InterfaceAddress> entries);
    void setUnreadable(bool unreadable);

    std::optional<std::vector<InterfaceAddress>> list() const override;

private:
    mutable Mutex mutex_;
    std::vector<InterfaceAddress> entries_ HK_GUARDED_BY(mutex_);
    bool unreadable_ HK_GUARDED_BY(mutex_) = false;
};

}  // namespace hollowkit
