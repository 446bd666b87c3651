#pragma once

// FakeSecureRandom: predictable "random" bytes for tests. Byte n of
// everything handed out is (start + n) mod 256, so two requests never
// repeat each other within 256 bytes and a test can say exactly what an
// identifier made from them reads. Any thread.

#include <cstdint>
#include <mutex>

#include "lumenhollow/platform/secure_random.h"

namespace lumenhollow {

class FakeSecureRandom final : public SecureRandom {
public:
    explicit FakeSecureRandom(uint8_t start = 0) : next_(start) {}

    hollowkit::Bytes bytes(size_t count) override;

    int requests() const;

private:
    mutable std::mutex mutex_;
    uint8_t next_;      // guarded by mutex_
    int requests_ = 0;  // guarded by mutex_
};

}  // namespace lumenhollow
