#pragma once

// FakeAppShell: an AppShell for tests that logs the calls ("activate",
// "bringForward", "endSheets", "requestTermination", "reply",
// "reply relaunch") and says whether a visible main window exists and
// whether a sheet was open. A termination request is passed on, as the
// application does, to the handler set, from a task posted on the executor
// given. Main executor only.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "hollowkit/base/executor.h"

#include "lumenhollow/model/app_shell.h"

namespace lumenhollow {

class FakeAppShell final : public AppShell {
public:
    void activateApplication() override { calls_.push_back("activate"); }
    bool bringMainWindowForward() override {
        calls_.push_back("bringForward");
        return mainWindowVisible_;
    }
    bool endAttachedSheets() override {
        calls_.push_back("endSheets");
        return std::exchange(sheetOpen_, false);
    }
    void requestTermination() override {
        calls_.push_back("requestTermination");
        if (onTerminationRequest_) main_->post(onTerminationRequest_);
    }
    void replyToTermination(bool relaunch) override { calls_.push_back(relaunch ? "reply relaunch" : "reply"); }

    void setMainWindowVisible(bool visible) { mainWindowVisible_ = visible; }
    void setSheetOpen(bool open) { sheetOpen_ = open; }
    // What the application does on a termination request (the model's
    // handleTerminationRequest), run from a task on `main`.
    void setOnTerminationRequest(hollowkit::MainExecutor& main, std::function<void()> handler) {
        main_ = &main;
        onTerminationRequest_ = std::move(handler);
    }
    // How often `call` was made.
    size_t count(const std::string& call) const {
        size_t n = 0;
        for (const auto& made : calls_) n += made == call ? 1 : 0;
        return n;
    }
    const std::vector<std::string>& calls() const { return calls_; }

private:
    bool mainWindowVisible_ = false;
    bool sheetOpen_ = false;
    hollowkit::MainExecutor* main_ = nullptr;
    std::function<void()> onTerminationRequest_;
    std::vector<std::string> calls_;
};

}  // namespace lumenhollow
