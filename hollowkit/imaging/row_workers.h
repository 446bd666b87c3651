#pragma once

// RowWorkers: a few threads that share the rows of one picture. run() splits
// the rows into one band per thread, works the first band on the calling
// thread and returns once every band is done. Each row's result depends only
// on its input, so the split never changes the picture. One owner (a
// processor); run() from any thread: a second caller arriving while a picture
// is in progress works its rows alone rather than wait.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "hollowkit/base/mutex.h"

namespace hollowkit {

class RowWorkers {
public:
    using Job = std::function<void(int rowBegin, int rowEnd)>;

    // `threadCount` counts the caller too; 1 starts no thread.
    explicit RowWorkers(int threadCount);
    ~RowWorkers();
    RowWorkers(const RowWorkers&) = delete;
    RowWorkers& operator=(const RowWorkers&) = delete;

    int threadCount() const { return static_cast<int>(threads_.size()) + 1; }

    // Runs `job` over rows [0, rows) and waits for all of it.
    void run(int rows, const Job& job);

    // The thread count used when none is given: the cores, at most four
    // (beyond that a 4K frame gains little and other work loses cores).
    static int defaultThreadCount();

private:
    void work(std::stop_token stop, int band);
    static std::pair<int, int> bandOf(int rows, int band, int bands);

    Mutex runMutex_;  // held by the caller whose picture is in progress

    Mutex mutex_;
    std::condition_variable_any wake_;
    std::condition_variable done_;
    const Job* job_ HK_GUARDED_BY(mutex_) = nullptr;
    int rows_ HK_GUARDED_BY(mutex_) = 0;
    uint64_t generation_ HK_GUARDED_BY(mutex_) = 0;  // bumped for each picture
    int pending_ HK_GUARDED_BY(mutex_) = 0;          // bands not yet finished

    std::vector<std::jthread> threads_;  // last: start after the fields above
};

// Runs `job` over rows [0, rows): shared among `workers` when given, on the
// calling thread alone otherwise.
void runRows(RowWorkers* workers, int rows, const RowWorkers::Job& job);

}  // namespace hollowkit
