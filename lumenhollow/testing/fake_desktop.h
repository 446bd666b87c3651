#pragma once

// FakeDesktop: a Desktop for tests that shows nothing and records each call
// as "open <path>" or "reveal <path>", in order. Made to fail
// (setFails), it tells the not-shown handler at once, on the caller's
// thread. Any thread.

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "lumenhollow/platform/desktop.h"

namespace lumenhollow {

class FakeDesktop final : public Desktop {
public:
    void setNotShownHandler(NotShownHandler handler) override {
        std::lock_guard guard(mutex_);
        notShown_ = std::move(handler);
    }
    void openFolder(const std::filesystem::path& folder) override {
        add("open " + folder.string());
        fail(folder);
    }
    void revealFile(const std::filesystem::path& file) override {
        add("reveal " + file.string());
        fail(file.parent_path());
    }

    // Whether every later request fails to show anything.
    void setFails(bool fails) {
        std::lock_guard guard(mutex_);
        fails_ = fails;
    }

    std::vector<std::string> calls() const {
        std::lock_guard guard(mutex_);
        return calls_;
    }

private:
    void add(std::string call) {
        std::lock_guard guard(mutex_);
        calls_.push_back(std::move(call));
    }

    void fail(const std::filesystem::path& folder) {
        NotShownHandler handler;
        {
            std::lock_guard guard(mutex_);
            if (!fails_) return;
            handler = notShown_;
        }
        if (handler) handler(folder);
    }

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;  // guarded by mutex_
    NotShownHandler notShown_;        // guarded by mutex_
    bool fails_ = false;              // guarded by mutex_
};

}  // namespace lumenhollow
