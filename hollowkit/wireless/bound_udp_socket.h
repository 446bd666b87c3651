#pragma once

// BoundUDPSocket: one IPv4 UDP socket tied to one network interface
// (SO_BINDTODEVICE), a fixed destination, and a receive thread
// ("HollowKit.UDPReceive") that queues every datagram for its owner.
// Owned by one DumlUDPLink; open/send/take/wait/close run on the owner's
// thread. The receive thread waits in poll() on the socket and an eventfd, so
// close() wakes it at once, joins it and only then closes the descriptor: a
// closed socket's number can never be read by a stale thread. The incoming
// list is bounded; the oldest datagrams go first when a flood fills it.
// Only datagrams from the destination's address are queued, from whatever
// port the camera answers; any other host's are dropped and counted (logged
// once, and in total at close).

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <thread>

#include "hollowkit/base/mutex.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/wireless/datagram_transport.h"

namespace hollowkit {

class BoundUDPSocket final : public DatagramTransport {
public:
    // At most this many datagrams (and bytes) wait for the owner.
    static constexpr size_t kMaxIncomingDatagrams = 4096;
    static constexpr size_t kMaxIncomingBytes = 16 * 1024 * 1024;
    static constexpr size_t kReceiveBufferSize = 65536;

    BoundUDPSocket() = default;
    ~BoundUDPSocket() override;
    BoundUDPSocket(const BoundUDPSocket&) = delete;
    BoundUDPSocket& operator=(const BoundUDPSocket&) = delete;

    // Log lines on failure: "socket() failed errno=N", "IP_BOUND_IF failed
    // errno=N" (the interface cannot be bound, also an unknown name),
    // "UDP bad host <host>" (not an IPv4 address). Every failure path closes
    // what it opened and starts no thread.
    bool open(const UdpEndpoint& endpoint) override;
    void send(ByteView datagram) override;
    std::vector<Bytes> takeIncoming() override;
    bool waitForIncoming(TimePoint deadline) override;
    void sleepUntil(TimePoint deadline) override;
    // Wakes and joins the receive thread, logs "UDP total send errors: N"
    // when sends failed, closes the descriptor. Datagrams already queued
    // stay takeable.
    void close() override;
    const Clock& clock() const override { return Clock::system(); }

    int sendErrors() const { return sendErrors_; }
    // Datagrams dropped because the owner did not drain fast enough.
    size_t droppedDatagrams() const;
    // Datagrams dropped because they came from another address or port than
    // the destination's.
    size_t foreignSenderDatagrams() const;
    // The local port the socket is bound to (0 before open).
    uint16_t localPort() const { return localPort_; }

private:
    void receiveLoop(int socketFd, int wakeFd);
    // Receive thread: counts a datagram of another sender (address in
    // network byte order), logs the first.
    void noteForeignSender(uint32_t address, uint16_t port);

    UniqueFd descriptor_;
    UniqueFd wakeFd_;
    std::thread receiver_;
    int sendErrors_ = 0;
    uint16_t localPort_ = 0;
    uint32_t destinationAddress_ = 0;  // network byte order
    uint16_t destinationPort_ = 0;     // host byte order
    bool closed_ = false;

    mutable Mutex lock_;
    std::condition_variable arrived_;
    std::deque<Bytes> incoming_ HK_GUARDED_BY(lock_);
    size_t incomingBytes_ HK_GUARDED_BY(lock_) = 0;
    size_t dropped_ HK_GUARDED_BY(lock_) = 0;
    size_t foreignSenderDatagrams_ HK_GUARDED_BY(lock_) = 0;
};

}  // namespace hollowkit
