#include "lumenhollow/testing/fake_secure_random.h"

namespace lumenhollow {

hollowkit::Bytes FakeSecureRandom::bytes(size_t count) {
    std::lock_guard lock(mutex_);
    ++requests_;
    hollowkit::Bytes out(count);
    for (uint8_t& byte : out) byte = next_++;
    return out;
}

int FakeSecureRandom::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

}  // namespace lumenhollow
