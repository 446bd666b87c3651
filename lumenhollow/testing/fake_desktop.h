#pragma once

// FakeDesktop: a Desktop for tests that shows nothing and records each call
// as "open <path>" or "reveal <path>", in order. Any thread.

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "lumenhollow/platform/desktop.h"

namespace lumenhollow {

class FakeDesktop final : public Desktop {
public:
    void openFolder(const std::filesystem::path& folder) override { add("open " + folder.string()); }
    void revealFile(const std::filesystem::path& file) override { add("reveal " + file.string()); }

    std::vector<std::string> calls() const {
        std::lock_guard guard(mutex_);
        return calls_;
    }

private:
    void add(std::string call) {
        std::lock_guard guard(mutex_);
        calls_.push_back(std::move(call));
    }

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;  // guarded by mutex_
};

}  // namespace lumenhollow
