#pragma once

// LookLoader: reads and builds the imported looks off the main executor, one
// path at a time in the order asked, and hands each outcome to one handler as
// soon as it is known, so a large look holds up neither the window, the live
// picture nor the looks before it. The list's limits (a LookLedger) are kept
// on the loader's queue and count every look delivered and every release
// since, in the order the calls were made. A look its owner is about to
// select comes with its table prepared for the frame processor, made here
// too, so selecting it costs the main executor nothing.
//
// Owned by the camera model. Threads: load() and release() from the owner's
// thread; reading and the handler on the loader's queue
// ("Lumenhollow.Looks", at lowered priority), or on the executor given
// (tests). Destroying the loader stops a reading under way; nothing more is
// delivered after it.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/imaging/color_lut.h"
#include "hollowkit/imaging/lut_engine.h"
#include "lumenhollow/model/look_list.h"

namespace lumenhollow {

class LookLoader {
public:
    // One path's outcome; every path of a batch gives one, in order.
    struct Arrival {
        uint64_t batch = 0;
        std::string path;
        LookAttempt attempt = {};
        // The look's table prepared, when the batch's choice asked for it.
        std::shared_ptr<const hollowkit::LutEngine> prepared = {};
        bool lastOfBatch = false;
    };
    using ArrivalHandler = std::function<void(Arrival arrival)>;
    // Which loaded looks come with their table prepared. Loader's queue.
    using PrepareChoice = std::function<bool(const hollowkit::ColorLUT& look)>;

    static constexpr std::string_view kQueueLabel = "Lumenhollow.Looks";

    explicit LookLoader(LookListLimits limits = {});
    // Works on `queue`, which must outlive the loader and its tasks.
    LookLoader(LookListLimits limits, hollowkit::Executor& queue);
    ~LookLoader();
    LookLoader(const LookLoader&) = delete;
    LookLoader& operator=(const LookLoader&) = delete;

    // Set once, before the first load. Called on the loader's queue.
    void setOnArrival(ArrivalHandler handler);

    // Reads `paths` as one batch after those asked before; returns the
    // batch's number (from 1), or 0 for no paths, which delivers nothing.
    uint64_t load(std::vector<std::string> paths, PrepareChoice prepare = {});
    // The list no longer holds the look with this id: its room is free for
    // the paths asked after this call.
    void release(std::string id);

private:
    struct Core;

    std::unique_ptr<hollowkit::SerialQueue> ownQueue_;
    hollowkit::Executor& queue_;
    std::shared_ptr<Core> core_;  // tasks hold it; the ledger lives on the queue
    uint64_t lastBatch_ = 0;
};

}  // namespace lumenhollow
