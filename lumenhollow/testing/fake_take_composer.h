#pragma once

// FakeTakeComposer: a TakeComposer that keeps each composition's request
// and handlers for the test to answer, as the composer's queue would: the
// test reports progress and the result on the main executor's thread. The
// log outlives the composers, so a test also sees which were destroyed.
// Main executor only.

#include <memory>
#include <utility>
#include <vector>

#include "lumenhollow/model/screen_take.h"

namespace lumenhollow {

struct TakeCompositions {
    struct Job {
        hollowkit::ComposeRequest request;
        hollowkit::ScreenComposer::Progress progress;
        hollowkit::ScreenComposer::Completion completion;
        bool composerDestroyed = false;
    };
    std::vector<std::shared_ptr<Job>> jobs;

    size_t size() const { return jobs.size(); }
    Job& last() { return *jobs.back(); }
    // Reports the result of job `index` (the last by default); once.
    void finish(hollowkit::Result<std::filesystem::path, hollowkit::ComposeError> result) {
        finish(jobs.size() - 1, std::move(result));
    }
    void finish(size_t index, hollowkit::Result<std::filesystem::path, hollowkit::ComposeError> result) {
        auto completion = std::exchange(jobs[index]->completion, nullptr);
        if (completion) completion(std::move(result));
    }
    void succeed() { finish(jobs.back()->request.output); }
};

class FakeTakeComposer final : public TakeComposer {
public:
    explicit FakeTakeComposer(std::shared_ptr<TakeCompositions> log) : log_(std::move(log)) {}
    ~FakeTakeComposer() override {
        if (job_) job_->composerDestroyed = true;
    }

    void compose(hollowkit::ComposeRequest request, hollowkit::ScreenComposer::Progress progress,
                 hollowkit::ScreenComposer::Completion completion) override {
        job_ = std::make_shared<TakeCompositions::Job>();
        job_->request = std::move(request);
        job_->progress = std::move(progress);
        job_->completion = std::move(completion);
        log_->jobs.push_back(job_);
    }

    static TakeComposerFactory factory(const std::shared_ptr<TakeCompositions>& log) {
        return [log] { return std::make_unique<FakeTakeComposer>(log); };
    }

private:
    std::shared_ptr<TakeCompositions> log_;
    std::shared_ptr<TakeCompositions::Job> job_;
};

}  // namespace lumenhollow
