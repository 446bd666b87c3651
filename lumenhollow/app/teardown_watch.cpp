#include "lumenhollow/app/teardown_watch.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "hollowkit/base/pocket_log.h"

namespace lumenhollow {

namespace {

std::atomic<const char*> teardownStep{"The application"};

}  // namespace

void markTeardownStep(const char* what) {
    teardownStep.store(what);
}

const char* currentTeardownStep() {
    return teardownStep.load();
}

TeardownWatch::TeardownWatch(int status, hollowkit::Duration limit)
    : TeardownWatch(limit, [status](const char* what) {
          hollowkit::PocketLog::logf("%s did not close in time; ending now", what);
          std::fflush(nullptr);
          ::_exit(status);
      }) {}

TeardownWatch::TeardownWatch(hollowkit::Duration limit, Late late)
    : thread_([this, limit, late = std::move(late)] {
          std::unique_lock lock(mutex_);
          const bool finished = wake_.wait_for(lock, limit, [this] { return done_; });
          lock.unlock();
          if (!finished) late(currentTeardownStep());
      }) {}

TeardownWatch::~TeardownWatch() {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    wake_.notify_all();
}

}  // namespace lumenhollow
