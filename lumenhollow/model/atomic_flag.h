#pragma once

// AtomicFlag: a Bool behind its own lock, for a switch one thread sets and
// another reads on every frame (the notch island's live preview being open).
// Any thread.

#include <mutex>

namespace lumenhollow {

class AtomicFlag {
public:
    explicit AtomicFlag(bool value = false) : value_(value) {}
    AtomicFlag(const AtomicFlag&) = delete;
    AtomicFlag& operator=(const AtomicFlag&) = delete;

    bool value() const {
        std::lock_guard guard(lock_);
        return value_;
    }
    void set(bool value) {
        std::lock_guard guard(lock_);
        value_ = value;
    }

private:
    mutable std::mutex lock_;
    bool value_;  // guarded by lock_
};

}  // namespace lumenhollow
