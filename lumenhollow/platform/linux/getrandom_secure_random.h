#pragma once

// GetrandomSecureRandom: SecureRandom from getrandom(2), which blocks only
// until the kernel's pool is first seeded, early in boot. Where the call is
// missing, /dev/urandom stands in. If neither gives bytes the process
// aborts: handing out predictable bytes would be worse. Stateless; any
// thread.

#include "lumenhollow/platform/secure_random.h"

namespace lumenhollow {

class GetrandomSecureRandom final : public SecureRandom {
public:
    hollowkit::Bytes bytes(size_t count) override;
};

}  // namespace lumenhollow
