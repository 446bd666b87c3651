#pragma once

// SecureRandom: unpredictable bytes from the system, for identifiers that
// must not be guessed (the pairing identifier).

#include <cstddef>

#include "hollowkit/base/bytes.h"

namespace lumenhollow {

class SecureRandom {
public:
    virtual ~SecureRandom() = default;

    // `count` bytes. Any thread.
    virtual hollowkit::Bytes bytes(size_t count) = 0;
};

}  // namespace lumenhollow
