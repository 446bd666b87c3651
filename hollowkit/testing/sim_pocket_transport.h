#pragma once

// SimPocketTransport: a DatagramTransport wired straight to a SimPocketUdp
// on virtual time. What the link sends reaches the simulated camera at
// once; waiting moves the ManualClock to the camera's next event (or the
// deadline) and runs it, so a 12-second live-view session runs in
// milliseconds and always the same way. One thread (the link's) drives it.

#include <functional>
#include <vector>

#include "hollowkit/testing/manual_clock.h"
#include "hollowkit/testing/sim_pocket_udp.h"
#include "hollowkit/wireless/datagram_transport.h"

namespace hollowkit {

class SimPocketTransport final : public DatagramTransport {
public:
    // Both must outlive the transport.
    SimPocketTransport(SimPocketUdp& camera, ManualClock& clock) : camera_(camera), clock_(clock) {}

    bool open(const UdpEndpoint& endpoint) override;
    void send(ByteView datagram) override;
    std::vector<Bytes> takeIncoming() override;
    bool waitForIncoming(TimePoint deadline) override;
    void sleepUntil(TimePoint deadline) override;
    void close() override { closed_ = true; }
    const Clock& clock() const override { return clock_; }

    // Called on the link's thread each time virtual time moves, with the new
    // time: a test's script of actions at given moments.
    std::function<void(TimePoint)> onTime;

    bool isOpen() const { return opened_ && !closed_; }
    // Makes open() fail, as a socket that cannot bind.
    void failOpen() { failOpen_ = true; }
    // Datagrams the link sent, in order.
    const std::vector<Bytes>& sent() const { return sent_; }

private:
    // Runs the camera up to `deadline`; stops early (true) once it has
    // produced something for the link.
    bool runCameraUntil(TimePoint deadline, bool stopAtOutput);

    SimPocketUdp& camera_;
    ManualClock& clock_;
    std::vector<Bytes> pending_;
    std::vector<Bytes> sent_;
    bool opened_ = false;
    bool closed_ = false;
    bool failOpen_ = false;
};

}  // namespace hollowkit
