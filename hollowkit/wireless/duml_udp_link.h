#pragma once

// DumlUDPLink: our end of the camera's UDP protocol on port 9004. Opens a
// session with a handshake, acknowledges what arrives, sends DUML commands
// in command datagrams, and sorts what arrives: video datagrams go whole to
// onVideoDatagram, DUML frames of every other datagram of this session go to
// onFrame. Keeps the sequence records the acknowledgements and statistics
// need and logs a summary when it closes.
//
// No lock and no thread of its own: every member, and both handlers, run on
// the thread that drives it (the wireless camera's video thread). One link
// per connection attempt; it is never reopened. Time comes from the
// transport's clock, so the whole link runs on virtual time in tests.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/clock.h"
#include "hollowkit/base/log_limiter.h"
#include "hollowkit/base/stop_flag.h"
#include "hollowkit/camera/duml_frame.h"
#include "hollowkit/wireless/datagram_transport.h"

namespace hollowkit {

struct UdpLinkTimings {
    int handshakeAttempts = 20;
    Duration handshakeWindow = std::chrono::milliseconds(350);
    // After the handshake: rounds of pumping, each followed by an ack.
    int syncRounds = 5;
    Duration syncPump = std::chrono::milliseconds(400);
    // verifyCamera(): pump slice between two acks.
    Duration verifyPump = std::chrono::milliseconds(100);
};

// Session identifiers drawn at construction; tests may fix them.
struct UdpLinkIdentity {
    uint16_t sessionId = 0;     // 4096...65533
    uint16_t baseSequence = 0;  // multiple of 8, 4096...61432

    static UdpLinkIdentity random();
};

class DumlUDPLink {
public:
    static constexpr uint16_t kFirstDumlSequence = 0xA000;
    static constexpr uint8_t kSenderAddress = 0x02;
    // "UDP RX" lines: the first three frames of each command key, within a
    // budget per interval, since the peer chooses the keys (65,536 of them).
    static constexpr LogLimiter::Limits kFrameLogLimits{3, 64, std::chrono::seconds(10)};

    // `transport` is opened by open(); `endpoint` names the camera's host,
    // its port (9004 in production) and the interface to bind to.
    DumlUDPLink(std::unique_ptr<DatagramTransport> transport, UdpEndpoint endpoint,
                UdpLinkTimings timings = {}, UdpLinkIdentity identity = UdpLinkIdentity::random());
    ~DumlUDPLink();
    DumlUDPLink(const DumlUDPLink&) = delete;
    DumlUDPLink& operator=(const DumlUDPLink&) = delete;

    // Called for every DUML frame in a non-video datagram of this session,
    // from inside pump() (and the handshake). Set before open().
    std::function<void(const DumlFrame&)> onFrame;
    // Called with every video datagram of this session, whole (header
    // included), from inside pump().
    std::function<void(ByteView)> onVideoDatagram;

    // Binds the transport and runs the handshake; true when synchronised.
    // A failed handshake logs "UDP handshake failed" and closes the link. A
    // set `stop` ends it before its next attempt or synchronisation round
    // (the link closes, false).
    bool open(const StopFlag* stop = nullptr);

    // Sends one command datagram; returns the DUML id the frame carries,
    // which the camera echoes in its reply. receiverType + receiverIndex * 32
    // must stay within 255 and the attribute within 0...7.
    uint16_t send(uint8_t cmdSet, uint8_t cmdId, ByteView payload, int receiverType, int receiverIndex,
                  int attribute);
    void sendAck();

    // Handles received datagrams for `span`; returns how many of this
    // session it handled. Waits for the receive side between batches; never
    // polls.
    int pump(Duration span);
    // Waits `span` without handling anything (datagrams keep queueing).
    void pause(Duration span);

    // Asks the camera for its Wi-Fi name (07/07); nothing when no answer
    // came within `timeout`.
    std::optional<std::string> verifyCamera(Duration timeout);

    // Logs the summary line and closes the transport. Idempotent.
    void close();

    // Read by the live-view session.
    TimePoint lastInbound() const { return lastInbound_; }
    int lastSentSequence() const { return lastSentSequence_; }
    int peerAckedSequence() const { return peerAckedSequence_; }
    const Clock& clock() const { return transport_->clock(); }

    // Records, for tests and logs.
    uint16_t sessionId() const { return identity_.sessionId; }
    uint16_t baseSequence() const { return identity_.baseSequence; }
    int cameraChannel() const { return cameraChannel_; }
    int nextSequence() const { return nextSequence_; }
    int rxVideoSequence() const { return rxVideoSequence_; }
    int rxReliableSequence() const { return rxReliableSequence_; }
    int foreignDatagrams() const { return foreignDatagrams_; }
    const std::map<uint8_t, int>& packetTypeCounts() const { return packetTypeCounts_; }
    // Command datagrams not yet confirmed by the camera, modulo 8192.
    int transportLag() const { return ((lastSentSequence_ - peerAckedSequence_) >> 3) & 0x1FFF; }

    // Test seam: the next handshake or command sequence.
    void setNextSequenceForTesting(int sequence) { nextSequence_ = sequence & 0xFFFF; }

    // Handles one datagram of this session (records, dispatch, DUML scan).
    void handleDatagram(ByteView datagram);

private:
    bool handshake(ByteView payload, const StopFlag* stop);
    void dispatchFrames(uint8_t type, ByteView datagram);

    std::unique_ptr<DatagramTransport> transport_;
    const UdpEndpoint endpoint_;
    const UdpLinkTimings timings_;
    const UdpLinkIdentity identity_;
    bool closed_ = false;

    int cameraChannel_;
    int nextSequence_ = 0;
    int dumlSequence_ = kFirstDumlSequence;
    int commandCounter_ = 0;
    int rxVideoSequence_;
    int rxReliableSequence_;
    int peerAckedSequence_;
    int lastSentSequence_;
    bool sawVideo_ = false;
    bool sawReliable_ = false;
    std::map<uint8_t, int> packetTypeCounts_;
    LogLimiter frameLog_{"UDP RX", kFrameLogLimits};
    int foreignDatagrams_ = 0;
    TimePoint lastInbound_;
};

}  // namespace hollowkit
