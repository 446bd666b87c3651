// The UDP link's datagram parsers and the live-view session's frame handling
// on arbitrary bytes: header, status report, acknowledgement, command
// datagram, the DUML scan of every datagram type, the link's record keeping,
// and reply matching plus telemetry decoding of every frame found.
//
// The first input byte is a control byte, the rest the datagram. With bit 0
// set, every DUML frame the datagram seems to hold after its header gets a
// version byte, a length that fits, and both checksums made right before the
// link sees it, so mutated frames reach the attitude, battery and card
// decoders instead of dying at a checksum.
//
// With bit 1 set, the datagram instead arrives, on virtual time, during a
// whole run of the link and session: opening (the handshake answered when
// bit 2 is set), synchronising, the camera check, and the live-view session
// with commands waiting for replies and the gimbal moving, to its end for
// want of a picture or from silence. So replies settle commands, repeated
// datagrams meet the replies already handled, and the link's own sending
// and acknowledging run as they do with a camera.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>
#include <memory>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/camera/camera_command.h"
#include "hollowkit/camera/command_queue.h"
#include "hollowkit/camera/gimbal_commands.h"
#include "hollowkit/camera/camera_event.h"
#include "hollowkit/camera/camera_types.h"
#include "hollowkit/camera/card_recording_state.h"
#include "hollowkit/camera/duml_crc.h"
#include "hollowkit/wireless/duml_udp_link.h"
#include "hollowkit/wireless/udp_packet.h"
#include "hollowkit/testing/manual_clock.h"
#include "hollowkit/wireless/wireless_video_session.h"

namespace hollowkit {
namespace {

class NullSink final : public LogSink {
public:
    void writeConsole(std::string_view) override {}
    void writeSystem(std::string_view) override {}
};

class NullTransport final : public DatagramTransport {
public:
    bool open(const UdpEndpoint&) override { return true; }
    void send(ByteView) override {}
    std::vector<Bytes> takeIncoming() override { return {}; }
    bool waitForIncoming(TimePoint) override { return false; }
    void sleepUntil(TimePoint) override {}
    void close() override {}
    const Clock& clock() const override { return Clock::system(); }
};

class NullStream final : public LiveViewStream {
public:
    void beginLink() override {}
    void pushDatagram(ByteView) override {}
    bool hasPicture() const override { return false; }
    int completedMessages() const override { return 0; }
    std::vector<int> seenNalTypes() const override { return {}; }
    std::optional<VideoDimensions> dimensions() const override { return std::nullopt; }
    int takeDisplayedCount() override { return 0; }
};

constexpr uint8_t kFixFrames = 0x01;
constexpr uint8_t kWholeRun = 0x02;
constexpr uint8_t kAnswerHandshake = 0x04;
constexpr uint8_t kVersionByte = 0x04;
constexpr uint8_t kLengthHighMask = 0x03;

void check(bool condition) {
    if (!condition) std::abort();
}

// Makes each 0x55 after the header start a frame the scanner accepts,
// frames taken one after another (a frame's bytes are not searched for more
// starts, so the work stays linear in the datagram).
void fixFrames(Bytes& datagram) {
    size_t i = kUdpHeaderLength;
    while (i + DumlFrame::kOverhead <= datagram.size()) {
        if (datagram[i] != DumlFrame::kStartByte) {
            ++i;
            continue;
        }
        uint8_t* p = datagram.data() + i;
        const size_t room = std::min(datagram.size() - i, DumlFrame::kMaxFrameLength);
        size_t length = size_t{p[1]} | (static_cast<size_t>(p[2] & kLengthHighMask) << 8);
        if (length < DumlFrame::kOverhead || length > room) length = room;
        p[1] = static_cast<uint8_t>(length);
        p[2] = static_cast<uint8_t>(kVersionByte | ((length >> 8) & kLengthHighMask));
        p[3] = dumlCrc8(ByteView(p, 3));
        const uint16_t crc = dumlCrc16(ByteView(p, length - 2));
        p[length - 2] = static_cast<uint8_t>(crc);
        p[length - 1] = static_cast<uint8_t>(crc >> 8);
        i += length;
    }
}

// A camera on virtual time: each scripted datagram is handed over once the
// clock reaches its moment, and waiting moves the clock instead of the thread.
class ScriptedTransport final : public DatagramTransport {
public:
    struct Arrival {
        Duration at;
        Bytes datagram;
        std::function<void()> alongside;  // done when it arrives
    };

    ScriptedTransport(ManualClock& clock, std::vector<Arrival> script, bool answerHandshake, uint16_t sessionId)
        : clock_(clock), start_(clock.now()), script_(std::move(script)), answerHandshake_(answerHandshake),
          sessionId_(sessionId) {}

    bool open(const UdpEndpoint&) override { return true; }
    void send(ByteView datagram) override {
        const auto header = UdpPacketHeader::parse(datagram);
        check(header.has_value() && UdpPacketHeader::isWellFormed(datagram));
        if (answerHandshake_ && header->type == UdpPacketType::handshake) {
            script_.push_back({clock_.now() - start_ + std::chrono::milliseconds(5),
                               udpPacket(UdpPacketType::handshake, sessionId_, header->sequence, Bytes{0x00}), {}});
        }
    }
    std::vector<Bytes> takeIncoming() override {
        std::vector<Bytes> due;
        for (auto it = script_.begin(); it != script_.end();) {
            if (start_ + it->at > clock_.now()) {
                ++it;
                continue;
            }
            if (it->alongside) it->alongside();
            due.push_back(std::move(it->datagram));
            it = script_.erase(it);
        }
        return due;
    }
    bool waitForIncoming(TimePoint deadline) override {
        TimePoint next = deadline;
        for (const Arrival& arrival : script_) next = std::min(next, start_ + arrival.at);
        if (next > clock_.now()) clock_.set(next);
        return next < deadline;
    }
    void sleepUntil(TimePoint until) override {
        if (until > clock_.now()) clock_.set(until);
    }
    void close() override {}
    const Clock& clock() const override { return clock_; }

private:
    ManualClock& clock_;
    const TimePoint start_;
    std::vector<Arrival> script_;
    const bool answerHandshake_;
    const uint16_t sessionId_;
};

// What the session reports must be what the decoders allow.
void checkTelemetry(const CameraEvent& event) {
    if (const auto* battery = event.get<BatteryStatus>()) {
        check(battery->percent >= 0 && battery->percent <= 100);
    }
    if (const auto* storage = event.get<CardStorage>()) {
        check(storage->totalMegabytes > 0 && storage->freeMegabytes >= 0 &&
              storage->freeMegabytes <= storage->totalMegabytes);
    }
    if (const auto* recording = event.get<CardRecordingState>()) {
        check(!recording->elapsedSeconds || *recording->elapsedSeconds >= 0);
    }
}

void wholeRun(const Bytes& datagram, bool answerHandshake) {
    static const UdpLinkIdentity identity{0x1000, 0x2000};
    ManualClock clock;
    GimbalCommands gimbal(clock);
    Bytes ours = datagram;
    if (ours.size() >= kUdpHeaderLength) {
        ours[2] = static_cast<uint8_t>(identity.sessionId);
        ours[3] = static_cast<uint8_t>(identity.sessionId >> 8);
    }
    using std::chrono::milliseconds;
    // During the synchronisation, twice in the session's loop (the second a
    // repeat), and once from another session; the gimbal stops with the first.
    std::vector<ScriptedTransport::Arrival> script = {
        {milliseconds(200), ours, {}},
        {milliseconds(3000), ours, [&gimbal] { gimbal.setVelocity(GimbalVelocity::zero); }},
        {milliseconds(3100), datagram, {}},
        {milliseconds(3300), ours, {}},
    };
    DumlUDPLink link(std::make_unique<ScriptedTransport>(clock, std::move(script), answerHandshake, identity.sessionId),
                     UdpEndpoint{"127.0.0.1", 9004, ""}, {}, identity);
    StopFlag stop;
    if (!link.open(&stop)) return;
    (void)link.verifyCamera(milliseconds(300));

    NullStream stream;
    CommandQueue commands;
    commands.append(CameraCommand::cardRecording(true));
    commands.append(CameraCommand::zoom(150));
    commands.append(CameraCommand::flipGimbal());
    commands.append(CameraCommand::zoom(300));  // replaces the first zoom
    gimbal.setVelocity({120, -80});
    gimbal.requestRecenter();
    WirelessVideoSession::Handlers handlers;
    handlers.emitTelemetry = checkTelemetry;
    handlers.emitStats = [](const CameraStats& stats) { check(stats.framesPerSecond >= 0); };
    WirelessVideoSession session(link, stream, gimbal, commands, stop, std::move(handlers));
    (void)session.run();
}

}  // namespace
}  // namespace hollowkit

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hollowkit;
    static NullSink sink;
    PocketLog::setSinkForTesting(&sink);

    if (size == 0) return 0;
    const uint8_t control = data[0];
    Bytes datagram(data + 1, data + size);
    if ((control & kFixFrames) != 0) fixFrames(datagram);
    if ((control & kWholeRun) != 0) {
        wholeRun(datagram, (control & kAnswerHandshake) != 0);
        return 0;
    }

    const ByteView bytes(datagram);
    (void)UdpPacketHeader::parse(bytes);
    (void)UdpPacketHeader::isWellFormed(bytes);
    (void)CameraStatusReport::parse(bytes);
    (void)AckRecord::parse(bytes);
    (void)CommandDatagram::parse(bytes);

    // The link, as the camera's datagrams reach it, with the session behind.
    static const UdpLinkIdentity identity{0x1000, 0x2000};
    DumlUDPLink link(std::make_unique<NullTransport>(), UdpEndpoint{"127.0.0.1", 9004, ""}, {}, identity);
    NullStream stream;
    GimbalCommands gimbal;
    CommandQueue commands;
    StopFlag stop;
    WirelessVideoSession::Handlers handlers;
    handlers.emitTelemetry = checkTelemetry;
    WirelessVideoSession session(link, stream, gimbal, commands, stop, std::move(handlers));
    link.onFrame = [&session](const DumlFrame& frame) { session.handleFrame(frame); };
    link.onVideoDatagram = [&stream](ByteView video) { stream.pushDatagram(video); };
    // As given, and as if it belonged to the link's session.
    link.handleDatagram(bytes);
    if (datagram.size() >= kUdpHeaderLength) {
        datagram[2] = static_cast<uint8_t>(identity.sessionId);
        datagram[3] = static_cast<uint8_t>(identity.sessionId >> 8);
        link.handleDatagram(datagram);
    }
    (void)session.attitude();
    return 0;
}
