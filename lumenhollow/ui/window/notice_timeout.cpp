#include "lumenhollow/ui/window/notice_timeout.h"

#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

NoticeTimeout::NoticeTimeout(std::weak_ptr<CameraModel> model) : model_(std::move(model)) {}

NoticeTimeout::~NoticeTimeout() {
    if (const auto model = model_.lock(); model && task_ != 0) model->mainExecutor().cancel(task_);
}

void NoticeTimeout::noticeChanged() {
    const auto model = model_.lock();
    if (!model) return;
    hollowkit::MainExecutor& main = model->mainExecutor();
    if (task_ != 0) main.cancel(task_);
    task_ = 0;
    if (!model->state().notice) return;
    // The wait names the notice it was started for, so even a wait whose
    // cancel came too late cannot clear a newer one.
    const uint64_t serial = model->noticeSerial();
    task_ = main.after(kShownFor, [this, weak = model_, serial] {
        // Without the model this timeout may be gone too: touch nothing.
        const auto strong = weak.lock();
        if (!strong) return;
        task_ = 0;
        strong->clearNotice(serial);
    });
}

}  // namespace lumenhollow
