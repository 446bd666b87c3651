#pragma once

// Helpers shared by the wireless data-path tests: a simple live-view stream
// that puts messages back together without decoding. The log capture and
// leak counts come from the test-support library.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <vector>

#include "hollowkit/base/clock.h"

#include "hollowkit/testing/sim_pocket_udp.h"
#include "hollowkit/testing/test_support.h"
#include "hollowkit/wireless/live_view_stream.h"
#include "hollowkit/wireless/udp_packet.h"

namespace hollowkit::testsupport {

// State that other threads report into while a test waits on it: note()
// changes it under the lock and wakes the waiter; waitUntil() checks `done`
// under the same lock at every report and at least every `poll`.
class ReportedState {
public:
    bool waitUntil(const std::function<bool()>& done, Duration limit,
                   Duration poll = std::chrono::milliseconds(50)) {
        std::unique_lock lock(mutex_);
        const TimePoint deadline = Clock::system().now() + limit;
        while (!done()) {
            if (Clock::system().now() >= deadline) {
                return false;
            }
            changed_.wait_for(lock, poll);
        }
        return true;
    }

    void note(const std::function<void()>& change) {
        {
            std::lock_guard lock(mutex_);
            change();
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

// Reassembles live-view messages from video datagrams (start datagram with
// marker and length, continuations after it) and counts the synthetic
// pictures of SimPocketUdp; a picture counts once an IRAP has been seen.
class AssemblingStream final : public LiveViewStream {
public:
    void beginLink() override {
        ++links_;
        expected_ = 0;
        pending_.clear();
    }
    void pushDatagram(ByteView d) override {
        ++datagrams_;
        constexpr size_t kPrefix = VideoDatagramLayout::kPrefixLength;
        if (d.size() <= kPrefix) {
            return;
        }
        const bool start = d.size() >= VideoDatagramLayout::kStartHeaderLength && d[20] == 0 && d[21] == 0 &&
                           d[22] == 1 && d[23] == 0xFF;
        if (start) {
            expected_ = d[24] | (d[25] << 8) | (d[26] << 16) | (size_t(d[27]) << 24);
            pending_.assign(d.begin() + VideoDatagramLayout::kStartHeaderLength, d.end());
            if (expected_ == 0 || expected_ > 8 * 1024 * 1024) {
                expected_ = 0;
                pending_.clear();
                return;
            }
        } else if (expected_ == 0) {
            return;
        } else {
            pending_.insert(pending_.end(), d.begin() + kPrefix, d.end());
        }
        if (pending_.size() >= expected_) {
            pending_.resize(expected_);
            complete(pending_);
            expected_ = 0;
            pending_.clear();
        }
    }
    bool hasPicture() const override { return hasPicture_; }
    int completedMessages() const override { return static_cast<int>(messages_.size()); }
    std::vector<int> seenNalTypes() const override { return {nalTypes_.begin(), nalTypes_.end()}; }
    std::optional<VideoDimensions> dimensions() const override {
        return hasPicture_ ? std::optional<VideoDimensions>(VideoDimensions{320, 180}) : std::nullopt;
    }
    int takeDisplayedCount() override {
        std::lock_guard lock(counterLock_);
        return std::exchange(displayed_, 0);
    }

    const std::vector<Bytes>& messages() const { return messages_; }
    // Indices of the synthetic pictures handed on, in order.
    const std::vector<int>& pictures() const { return pictures_; }
    int links() const { return links_; }
    int datagrams() const { return datagrams_; }

private:
    void complete(const Bytes& message) {
        messages_.push_back(message);
        for (size_t i = 0; i + 3 < message.size(); ++i) {
            if (message[i] == 0 && message[i + 1] == 0 && message[i + 2] == 1) {
                nalTypes_.insert((message[i + 3] >> 1) & 0x3F);
            }
        }
        const bool irap = SimPocketUdp::containsIrap(message);
        if (!hasPicture_ && !irap) {
            return;
        }
        hasPicture_ = true;
        if (auto index = SimPocketUdp::syntheticIndex(message)) {
            pictures_.push_back(*index);
        }
        std::lock_guard lock(counterLock_);
        ++displayed_;
    }

    size_t expected_ = 0;
    Bytes pending_;
    std::vector<Bytes> messages_;
    std::vector<int> pictures_;
    std::set<int> nalTypes_;
    bool hasPicture_ = false;
    int links_ = 0;
    int datagrams_ = 0;
    std::mutex counterLock_;
    int displayed_ = 0;
};

}  // namespace hollowkit::testsupport
