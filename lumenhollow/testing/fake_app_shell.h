#pragma once

// FakeAppShell: an AppShell for tests that logs the calls ("activate",
// "bringForward") and says whether a visible main window exists. Main
// executor only.

#include <string>
#include <vector>

#include "lumenhollow/model/app_shell.h"

namespace lumenhollow {

class FakeAppShell final : public AppShell {
public:
    void activateApplication() override { calls_.push_back("activate"); }
    bool bringMainWindowForward() override {
        calls_.push_back("bringForward");
        return mainWindowVisible_;
    }

    void setMainWindowVisible(bool visible) { mainWindowVisible_ = visible; }
    const std::vector<std::string>& calls() const { return calls_; }

private:
    bool mainWindowVisible_ = false;
    std::vector<std::string> calls_;
};

}  // namespace lumenhollow
