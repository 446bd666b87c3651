#pragma once

// NoticeTimeout: clears the model's notice a fixed time after it was shown,
// on the model's main executor. Each notice the model posts restarts the
// wait, also one that repeats the text before it; a wait that ends after a
// newer notice arrived clears nothing, and nothing is cleared once the
// timeout is gone (the toast left the window). Owned by the toast's
// column; main executor only.

#include <chrono>
#include <memory>

#include "hollowkit/base/executor.h"

namespace lumenhollow {

class CameraModel;

class NoticeTimeout {
public:
    static constexpr std::chrono::seconds kShownFor{3};

    explicit NoticeTimeout(std::weak_ptr<CameraModel> model);
    ~NoticeTimeout();
    NoticeTimeout(const NoticeTimeout&) = delete;
    NoticeTimeout& operator=(const NoticeTimeout&) = delete;

    // Call on every assignment of the notice.
    void noticeChanged();
    bool isWaiting() const { return task_ != 0; }

private:
    std::weak_ptr<CameraModel> model_;
    hollowkit::TaskId task_ = 0;
};

}  // namespace lumenhollow
