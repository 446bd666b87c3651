#pragma once

// SimPocketNetwork: puts a SimPocketUdp on real loopback sockets: UDP (the
// camera's port 9004) and a TCP listener (the camera's port 7001) on one
// 127.0.0.x address, ports injectable (0 picks free ones). One thread
// ("SimPocket.Net") serves both on real time: it hands each UDP datagram to
// the camera, runs the camera's periodic work when due, sends what the
// camera produced to the last peer that wrote to it, and records every TCP
// connection's bytes (a bootstrap frame, or nothing for a presence probe).
// Refuses any address outside 127.0.0.0/8. Accessors are thread-safe.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/result.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/sim_pocket_udp.h"

namespace hollowkit {

struct SimPocketNetworkOptions {
    std::string host = "127.0.0.21";
    uint16_t udpPort = 0;
    uint16_t tcpPort = 0;
    bool listenTcp = true;
    // A TCP peer that neither sends nor closes is dropped after this.
    Duration tcpIdleLimit = std::chrono::seconds(3);
};

class SimPocketNetwork {
public:
    // `camera` must outlive this object.
    SimPocketNetwork(SimPocketUdp& camera, SimPocketNetworkOptions options = {});
    ~SimPocketNetwork();
    SimPocketNetwork(const SimPocketNetwork&) = delete;
    SimPocketNetwork& operator=(const SimPocketNetwork&) = delete;

    // Binds the sockets and starts the thread; the failure says why.
    Result<void, std::string> start();
    // Stops and joins the thread and closes every socket. Idempotent.
    void stop();

    const std::string& host() const { return options_.host; }
    uint16_t udpPort() const { return udpPort_; }
    uint16_t tcpPort() const { return tcpPort_; }

    // Bytes received on each TCP connection that has ended, in order.
    std::vector<Bytes> tcpPayloads() const;
    // Waits (bounded) until `count` TCP connections have ended.
    bool waitForTcpPayloads(size_t count, Duration limit = std::chrono::seconds(5)) const;
    int tcpConnections() const;
    int udpDatagramsReceived() const { return udpReceived_.load(); }

private:
    struct TcpPeer {
        UniqueFd fd;
        Bytes bytes;
        TimePoint lastActivity;
    };

    void serve();
    void flushOutgoing();

    SimPocketUdp& camera_;
    const SimPocketNetworkOptions options_;
    UniqueFd udp_;
    UniqueFd listener_;
    UniqueFd wake_;
    uint16_t udpPort_ = 0;
    uint16_t tcpPort_ = 0;
    // The app's address, learnt from its datagrams (serve thread only).
    uint32_t peerAddress_ = 0;
    uint16_t peerPort_ = 0;
    std::atomic<int> udpReceived_{0};
    std::vector<TcpPeer> peers_;  // serve thread only

    mutable Mutex mutex_;
    mutable std::condition_variable tcpEnded_;
    std::vector<Bytes> tcpPayloads_ HK_GUARDED_BY(mutex_);
    int tcpConnections_ HK_GUARDED_BY(mutex_) = 0;
    std::thread thread_;
};

}  // namespace hollowkit
