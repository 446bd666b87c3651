#include "lumenhollow/ui/kit/queued_call.h"

#include <QMetaObject>

#include <utility>

#if defined(__SANITIZE_THREAD__)
#define LH_TSAN_ORDER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LH_TSAN_ORDER 1
#endif
#endif
#ifdef LH_TSAN_ORDER
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace lumenhollow::ui {
namespace {

// The functor Qt carries from the posting thread to the context's thread.
class PostedTask {
public:
    explicit PostedTask(std::function<void()> task) : task_(std::move(task)) {}
    PostedTask(PostedTask&& other) noexcept : task_(std::move(other.task_)) { happensBefore(); }
    PostedTask(const PostedTask&) = delete;
    PostedTask& operator=(const PostedTask&) = delete;
    PostedTask& operator=(PostedTask&&) = delete;
    ~PostedTask() { happensAfter(); }

    // Qt lets go of the functor wherever its last reference goes, which is
    // the posting thread when the task ran before the post returned: what
    // the task holds is taken out and let go here, as it runs.
    void operator()() {
        happensAfter();
        const std::function<void()> run = std::exchange(task_, nullptr);
        run();
        happensBefore();
    }

private:
#ifdef LH_TSAN_ORDER
    void happensBefore() { __tsan_release(this); }
    void happensAfter() { __tsan_acquire(this); }
#else
    void happensBefore() {}
    void happensAfter() {}
#endif

    std::function<void()> task_;
};

}  // namespace

void postQueued(QObject& context, std::function<void()> task) {
    QMetaObject::invokeMethod(&context, PostedTask(std::move(task)), Qt::QueuedConnection);
}

}  // namespace lumenhollow::ui
