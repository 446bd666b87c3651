#include "lumenhollow/model/look_loader.h"

#include <new>
#include <utility>

#include "hollowkit/base/stop_flag.h"
#include "hollowkit/base/thread_name.h"

namespace lumenhollow {

struct LookLoader::Core {
    explicit Core(LookListLimits limits) : ledger(limits) {}

    LookLedger ledger;  // loader's queue only
    hollowkit::StopFlag stop;
    ArrivalHandler handler;  // set before the first task
};

LookLoader::LookLoader(LookListLimits limits)
    : ownQueue_(std::make_unique<hollowkit::SerialQueue>(std::string(kQueueLabel))),
      queue_(*ownQueue_),
      core_(std::make_shared<Core>(limits)) {
    // Reading looks is background work: the window and the live picture
    // go first.
    ownQueue_->post([] { hollowkit::applyQualityOfService(hollowkit::QualityOfService::utility); });
}

LookLoader::LookLoader(LookListLimits limits, hollowkit::Executor& queue)
    : queue_(queue), core_(std::make_shared<Core>(limits)) {}

LookLoader::~LookLoader() {
    // A reading under way ends at its next chunk; our own queue then drops
    // the rest as it is joined, and tasks left on a borrowed one do nothing.
    core_->stop.set();
}

void LookLoader::setOnArrival(ArrivalHandler handler) { core_->handler = std::move(handler); }

uint64_t LookLoader::load(std::vector<std::string> paths, PrepareChoice prepare) {
    if (paths.empty()) return 0;
    const uint64_t batch = ++lastBatch_;
    const auto shared = std::make_shared<const PrepareChoice>(std::move(prepare));
    for (size_t i = 0; i < paths.size(); ++i) {
        // One task per path: a release asked meanwhile comes between two
        // looks, and the owner hears of each as soon as it is read.
        queue_.post([core = core_, batch, path = std::move(paths[i]), last = i + 1 == paths.size(), shared] {
            if (core->stop.isSet()) return;
            Arrival arrival{.batch = batch, .path = path, .lastOfBatch = last};
            arrival.attempt = core->ledger.tryLoad(path, &core->stop);
            if (core->stop.isSet()) return;
            if (arrival.attempt.look && *shared && (*shared)(*arrival.attempt.look)) {
                try {
                    arrival.prepared = hollowkit::LutEngine::prepare(*arrival.attempt.look);
                } catch (const std::bad_alloc&) {
                    // The selection prepares it again, or leaves frames untreated.
                }
            }
            if (core->handler) core->handler(std::move(arrival));
        });
    }
    return batch;
}

void LookLoader::release(std::string id) {
    queue_.post([core = core_, id = std::move(id)] {
        if (!core->stop.isSet()) core->ledger.release(id);
    });
}

}  // namespace lumenhollow
