#pragma once

// TeardownWatch: once the event loop has ended (or the display is gone), the
// parts are torn down under a time limit; a part stuck in the kernel or on a
// service that no longer answers must not keep a finished process alive.
// The part being torn down is named by TeardownStep marks, so the log says
// what it waited for instead of blaming the cameras for a bus.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "hollowkit/base/clock.h"

namespace lumenhollow {

// Names what the teardown waits on from now on ("The cameras").
void markTeardownStep(const char* what);
// The last name marked; "The application" before any.
const char* currentTeardownStep();

// A member of the parts declared just after the part it names: members end
// in the reverse order of their declaration, so its end marks the start of
// that part's.
class TeardownStep {
public:
    explicit TeardownStep(const char* what) : what_(what) {}
    ~TeardownStep() { markTeardownStep(what_); }
    TeardownStep(const TeardownStep&) = delete;
    TeardownStep& operator=(const TeardownStep&) = delete;

private:
    const char* what_;
};

class TeardownWatch {
public:
    // Told what was being torn down when `limit` passed.
    using Late = std::function<void(const char* what)>;

    // Logs "<what> did not close in time; ending now" and ends the process
    // with `status` when the teardown takes longer than `limit`.
    explicit TeardownWatch(int status, hollowkit::Duration limit = std::chrono::seconds(2));
    TeardownWatch(hollowkit::Duration limit, Late late);
    // The teardown has finished.
    ~TeardownWatch();
    TeardownWatch(const TeardownWatch&) = delete;
    TeardownWatch& operator=(const TeardownWatch&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::jthread thread_;  // last: joined first
};

}  // namespace lumenhollow
