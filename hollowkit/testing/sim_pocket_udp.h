#pragma once

// SimPocketUdp: the simulated Pocket's side of the UDP protocol on port 9004,
// as pure logic without sockets. It answers the handshake in the caller's
// session, reports its sequence numbers in status datagrams, answers DUML
// commands (per-key reply rules), answers the gimbal heartbeat, integrates
// the gimbal speeds it receives into an attitude it pushes, pushes card and
// battery telemetry, and sends a live view cut into video datagrams while it
// keeps receiving the START frame. Faults can be switched on at any time.
// It records what it received so tests can assert what the app sent.
//
// Time is passed in: SimPocketNetwork drives it from a socket thread on real
// time, SimPocketTransport from the link's own thread on virtual time.
// Thread-safe: every member takes the one internal lock.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/clock.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/camera/camera_types.h"
#include "hollowkit/camera/card_recording_state.h"
#include "hollowkit/camera/duml_frame.h"
#include "hollowkit/camera/gimbal_commands.h"
#include "hollowkit/wireless/udp_packet.h"

namespace hollowkit {

// How the camera answers one DUML key.
struct SimReplyRule {
    enum class Kind : uint8_t { accept, reject, emptyPayload, silent };
    Kind kind = Kind::accept;
    uint8_t code = 0;

    static SimReplyRule accept() { return {Kind::accept, 0}; }
    static SimReplyRule reject(uint8_t code) { return {Kind::reject, code}; }
    static SimReplyRule emptyPayload() { return {Kind::emptyPayload, 0}; }
    static SimReplyRule silent() { return {Kind::silent, 0}; }
};

// Faults applied to what the camera sends. Counters run over the whole life
// of the camera; "every N" means the Nth, 2Nth, ... datagram of that kind.
struct SimPocketFaults {
    int dropVideoEvery = 0;       // lose every Nth video datagram
    int duplicateVideoEvery = 0;  // send every Nth video datagram twice
    int reorderVideoEvery = 0;    // send every Nth video datagram after the next one
    int foreignEvery = 0;         // after every Nth datagram, one of another session
    int shortEvery = 0;           // after every Nth datagram, a 5-byte datagram
    int oversizedEvery = 0;       // after every Nth datagram, a 20,000-byte start datagram announcing 9 MiB
    bool silent = false;          // send nothing at all
    bool withholdIrap = false;    // skip every access unit that holds a random-access picture
    // Random faults on video datagrams, drawn in send order from `seed`, so
    // a run repeats exactly: each datagram is lost with `videoLossRate`, and
    // each one sent goes out twice with `videoDuplicateRate`.
    double videoLossRate = 0;
    double videoDuplicateRate = 0;
    uint32_t seed = 1;
};

struct SimPocketUdpOptions {
    uint16_t channel = 0x2340;         // the camera's sequence channel, a multiple of 8
    int answerHandshakeOnAttempt = 1;  // 0: never answer
    Duration statusInterval = std::chrono::milliseconds(100);
    Duration attitudeInterval = std::chrono::milliseconds(100);  // zero: no attitude pushes
    Duration cardInterval = std::chrono::seconds(1);             // zero: no card pushes
    Duration batteryInterval = std::chrono::seconds(2);          // zero: no battery pushes
    // Live view runs while the last START (00/88) is at most this old.
    Duration liveViewHold = std::chrono::seconds(3);
    Duration frameInterval = std::chrono::microseconds(33333);
    size_t videoDatagramSize = 1400;  // whole datagram; at least 40
    // How the camera numbers its video datagrams: this much apart, and every
    // `videoNumberGapEvery`-th datagram (0: never) `videoNumberGap` further.
    uint16_t videoNumberStep = 1;
    int videoNumberGapEvery = 0;
    uint16_t videoNumberGap = 5;
    // The live view ends after this many access units (0: never).
    int accessUnitLimit = 0;
    // When set, the next picture waits until this answers true for the count
    // of video datagrams put on the wire so far. Tests that measure what a
    // receiver makes of faults pace the camera by the receiver with it, so a
    // loaded machine overrunning the socket buffer is not counted as loss.
    // Called on the camera's thread under its lock: it must not call back.
    std::function<bool(int videoDatagramsOnWire)> readyForPicture;
    Duration cardTransition = std::chrono::milliseconds(300);
    // Gimbal degrees per second for one speed unit; a speed holds this long.
    double degreesPerSecondPerUnit = 0.1;
    Duration speedHold = std::chrono::milliseconds(500);
    std::string ssid = "OSMO-POCKET3-1A2B";
    BatteryStatus battery{76, false};
    CardStorage card{12000, 60000};
};

struct SimReceivedCommand {
    TimePoint at;
    UdpPacketHeader header;
    CommandPrefix prefix;
    DumlFrame frame;
};

// One access unit the live view sent.
struct SimSentPicture {
    int index = 0;       // into the configured list (or the synthetic number)
    bool whole = false;  // every one of its datagrams went out (none lost)
    bool irap = false;   // holds a random-access picture
};

class SimPocketUdp {
public:
    explicit SimPocketUdp(SimPocketUdpOptions options = {});
    SimPocketUdp(const SimPocketUdp&) = delete;
    SimPocketUdp& operator=(const SimPocketUdp&) = delete;

    // --- Driving (the transport's thread).
    void receive(ByteView datagram, TimePoint now);
    // Runs every periodic step due at `now`.
    void advanceTo(TimePoint now);
    // The next moment advanceTo() has work; TimePoint::max() when none.
    TimePoint nextDue() const;
    std::vector<Bytes> takeOutgoing();

    // --- Configuration (any thread, any time).
    void setReplyRule(uint8_t cmdSet, uint8_t cmdId, SimReplyRule rule);
    void setFaults(const SimPocketFaults& faults);
    SimPocketFaults faults() const;
    // The live view's access units (Annex-B), sent in order and looped.
    // Empty: synthetic units (see syntheticAccessUnit), an IRAP every 30.
    void setAccessUnits(std::vector<Bytes> accessUnits);
    void setBattery(BatteryStatus battery);

    // A small Annex-B access unit with fake parameter sets and one picture
    // NAL unit that carries `index`: type 19 (IDR) when index % irapEvery is
    // 0, else type 1. Padded to about `size` bytes.
    static Bytes syntheticAccessUnit(int index, int irapEvery = 30, size_t size = 3000);
    // The index a synthetic unit carries; nothing for other bytes.
    static std::optional<int> syntheticIndex(ByteView accessUnit);
    // True when an Annex-B unit holds a NAL unit of type 16...21.
    static bool containsIrap(ByteView accessUnit);

    // --- Records (any thread).
    std::optional<uint16_t> sessionId() const;
    int handshakesReceived() const;
    int acksReceived() const;
    std::optional<AckRecord> lastAck() const;
    int malformedHeaders() const;
    int sequenceViolations() const;  // command sequences not advancing by 8
    int foreignReceived() const;     // datagrams of another session after the handshake
    std::vector<SimReceivedCommand> commands() const;
    std::vector<DumlFrame> framesWithKey(const std::string& key) const;
    // The 04/01 speeds received, in order.
    std::vector<GimbalVelocity> speedFrames() const;
    GimbalAttitude attitude() const;
    CardRecordingState cardState() const;
    bool liveViewRunning() const;
    int accessUnitsSent() const;
    int videoDatagramsSent() const;
    // Indices of the access units sent, in order (into the configured list).
    std::vector<int> accessUnitIndicesSent() const;
    // The access units sent, in order, and whether each went out whole.
    std::vector<SimSentPicture> picturesSent() const;
    // Video datagrams that went out, repeats included.
    int videoDatagramsOnWire() const;

private:
    void handleCommandFrame(const DumlFrame& frame, TimePoint now) HK_REQUIRES(mutex_);
    void reply(const DumlFrame& request, Bytes payload) HK_REQUIRES(mutex_);
    void sendReliable(const DumlFrame& frame) HK_REQUIRES(mutex_);
    // False when a fault dropped the datagram.
    bool queue(Bytes datagram, bool isVideo) HK_REQUIRES(mutex_);
    bool draw(double rate) HK_REQUIRES(mutex_);
    void sendAccessUnit(TimePoint now) HK_REQUIRES(mutex_);
    void integrateGimbal(TimePoint now) HK_REQUIRES(mutex_);
    void pushAttitude() HK_REQUIRES(mutex_);
    void pushCard() HK_REQUIRES(mutex_);
    void pushBattery() HK_REQUIRES(mutex_);
    uint16_t nextVideoNumber() HK_REQUIRES(mutex_);
    uint16_t nextReliableSequence() HK_REQUIRES(mutex_);

    const SimPocketUdpOptions options_;
    mutable Mutex mutex_;
    SimPocketFaults faults_ HK_GUARDED_BY(mutex_);
    std::map<std::string, SimReplyRule> rules_ HK_GUARDED_BY(mutex_);
    std::vector<Bytes> accessUnits_ HK_GUARDED_BY(mutex_);
    std::optional<uint16_t> session_ HK_GUARDED_BY(mutex_);
    std::optional<uint16_t> handshakeSession_ HK_GUARDED_BY(mutex_);
    int handshakeAttempts_ HK_GUARDED_BY(mutex_) = 0;
    uint16_t pushId_ HK_GUARDED_BY(mutex_) = 0;
    int handshakes_ HK_GUARDED_BY(mutex_) = 0;
    int acks_ HK_GUARDED_BY(mutex_) = 0;
    std::optional<AckRecord> lastAck_ HK_GUARDED_BY(mutex_);
    int malformed_ HK_GUARDED_BY(mutex_) = 0;
    int sequenceViolations_ HK_GUARDED_BY(mutex_) = 0;
    int foreign_ HK_GUARDED_BY(mutex_) = 0;
    std::optional<uint16_t> lastCommandSequence_ HK_GUARDED_BY(mutex_);
    std::vector<SimReceivedCommand> commands_ HK_GUARDED_BY(mutex_);
    std::vector<GimbalVelocity> speeds_ HK_GUARDED_BY(mutex_);
    GimbalVelocity speed_ HK_GUARDED_BY(mutex_);
    TimePoint speedAt_ HK_GUARDED_BY(mutex_) {};
    TimePoint gimbalAt_ HK_GUARDED_BY(mutex_) {};
    GimbalAttitude attitude_ HK_GUARDED_BY(mutex_);
    CardRecordingState card_ HK_GUARDED_BY(mutex_);
    std::optional<TimePoint> cardTransitionEnds_ HK_GUARDED_BY(mutex_);
    TimePoint recordingStarted_ HK_GUARDED_BY(mutex_) {};
    BatteryStatus battery_ HK_GUARDED_BY(mutex_);
    std::optional<TimePoint> lastStart_ HK_GUARDED_BY(mutex_);
    TimePoint now_ HK_GUARDED_BY(mutex_) {};
    TimePoint nextStatus_ HK_GUARDED_BY(mutex_) {};
    TimePoint nextAttitude_ HK_GUARDED_BY(mutex_) {};
    TimePoint nextCard_ HK_GUARDED_BY(mutex_) {};
    TimePoint nextBattery_ HK_GUARDED_BY(mutex_) {};
    TimePoint nextFrame_ HK_GUARDED_BY(mutex_) {};
    int frameIndex_ HK_GUARDED_BY(mutex_) = 0;
    int unitsSent_ HK_GUARDED_BY(mutex_) = 0;
    std::vector<int> unitIndices_ HK_GUARDED_BY(mutex_);
    std::vector<SimSentPicture> picturesSent_ HK_GUARDED_BY(mutex_);
    int videoOnWire_ HK_GUARDED_BY(mutex_) = 0;
    std::mt19937 random_ HK_GUARDED_BY(mutex_);
    uint16_t videoSequence_ HK_GUARDED_BY(mutex_) = 0;
    uint16_t reliableSequence_ HK_GUARDED_BY(mutex_) = 0;
    uint16_t statusSequence_ HK_GUARDED_BY(mutex_) = 0;
    int videoCount_ HK_GUARDED_BY(mutex_) = 0;
    int videoNumbersGiven_ HK_GUARDED_BY(mutex_) = 0;
    int outgoingCount_ HK_GUARDED_BY(mutex_) = 0;
    std::optional<Bytes> heldBack_ HK_GUARDED_BY(mutex_);
    std::deque<Bytes> outgoing_ HK_GUARDED_BY(mutex_);
};

}  // namespace hollowkit
