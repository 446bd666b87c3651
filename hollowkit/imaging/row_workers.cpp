#include "hollowkit/imaging/row_workers.h"

#include <algorithm>
#include <string>

#include "hollowkit/base/cpu_count.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/thread_name.h"

namespace hollowkit {

RowWorkers::RowWorkers(int threadCount) {
    const int extra = std::max(threadCount, 1) - 1;
    threads_.reserve(static_cast<size_t>(extra));
    for (int band = 1; band <= extra; ++band) {
        threads_.emplace_back([this, band](std::stop_token stop) { work(stop, band); });
    }
}

RowWorkers::~RowWorkers() {
    for (auto& thread : threads_) thread.request_stop();
    wake_.notify_all();
    threads_.clear();  // joins
}

int RowWorkers::defaultThreadCount() {
    return std::min(usableCpuCount(), 4);
}

std::pair<int, int> RowWorkers::bandOf(int rows, int band, int bands) {
    const auto begin = static_cast<int>(int64_t{rows} * band / bands);
    const auto end = static_cast<int>(int64_t{rows} * (band + 1) / bands);
    return {begin, end};
}

void RowWorkers::run(int rows, const Job& job) {
    if (rows <= 0) return;
    if (threads_.empty() || !runMutex_.try_lock()) {
        job(0, rows);
        return;
    }
    MutexLock busy(runMutex_, std::adopt_lock);
    const int bands = threadCount();
    {
        MutexLock lock(mutex_);
        job_ = &job;
        rows_ = rows;
        pending_ = bands - 1;
        ++generation_;
    }
    wake_.notify_all();

    const auto [begin, end] = bandOf(rows, 0, bands);
    job(begin, end);

    MutexLock lock(mutex_);
    lock.wait(done_, [&]() HK_REQUIRES(mutex_) { return pending_ == 0; });
    job_ = nullptr;
}

void runRows(RowWorkers* workers, int rows, const RowWorkers::Job& job) {
    if (workers != nullptr) {
        workers->run(rows, job);
    } else if (rows > 0) {
        job(0, rows);
    }
}

void RowWorkers::work(std::stop_token stop, int band) {
    enterLibraryThread("HollowKit.Rows" + std::to_string(band));
    uint64_t seen = 0;
    MutexLock lock(mutex_);
    while (true) {
        if (!lock.wait(wake_, stop, [&]() HK_REQUIRES(mutex_) { return generation_ != seen; })) return;
        seen = generation_;
        const Job* job = job_;
        const auto [begin, end] = bandOf(rows_, band, threadCount());
        lock.unlock();
        if (begin < end) (*job)(begin, end);
        lock.lock();
        if (--pending_ == 0) done_.notify_one();
    }
}

}  // namespace hollowkit
