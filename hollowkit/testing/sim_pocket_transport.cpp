#include "hollowkit/testing/sim_pocket_transport.h"

#include <algorithm>

namespace hollowkit {

bool SimPocketTransport::open(const UdpEndpoint&) {
    if (failOpen_ || opened_) {
        return false;
    }
    opened_ = true;
    return true;
}

void SimPocketTransport::send(ByteView datagram) {
    if (!isOpen()) {
        return;
    }
    sent_.emplace_back(datagram.begin(), datagram.end());
    camera_.receive(datagram, clock_.now());
}

std::vector<Bytes> SimPocketTransport::takeIncoming() {
    if (closed_) {
        return {};
    }
    for (Bytes& datagram : camera_.takeOutgoing()) {
        pending_.push_back(std::move(datagram));
    }
    return std::exchange(pending_, {});
}

bool SimPocketTransport::runCameraUntil(TimePoint deadline, bool stopAtOutput) {
    for (;;) {
        camera_.advanceTo(clock_.now());
        for (Bytes& datagram : camera_.takeOutgoing()) {
            pending_.push_back(std::move(datagram));
        }
        if (stopAtOutput && !pending_.empty()) {
            return true;
        }
        const TimePoint now = clock_.now();
        if (now >= deadline) {
            return !pending_.empty();
        }
        const TimePoint next = std::min(std::max(camera_.nextDue(), now), deadline);
        // A camera event due now that produced nothing must still let time move.
        clock_.set(next == now ? std::min(now + std::chrono::microseconds(100), deadline) : next);
        if (onTime) {
            onTime(clock_.now());
        }
    }
}

bool SimPocketTransport::waitForIncoming(TimePoint deadline) {
    if (!isOpen()) {
        clock_.set(std::max(clock_.now(), deadline));
        if (onTime) {
            onTime(clock_.now());
        }
        return false;
    }
    return runCameraUntil(deadline, true);
}

void SimPocketTransport::sleepUntil(TimePoint deadline) {
    if (!isOpen()) {
        clock_.set(std::max(clock_.now(), deadline));
        return;
    }
    runCameraUntil(deadline, false);
}

}  // namespace hollowkit
