// The UDP link's datagram parsers and the live-view session's frame handling
// on arbitrary bytes: header, status report, acknowledgement, command
// datagram, the DUML scan of every datagram type, the link's record keeping,
// and reply matching plus telemetry decoding of every frame found.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/wireless/duml_udp_link.h"
#include "hollowkit/wireless/udp_packet.h"
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

}  // namespace
}  // namespace hollowkit

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hollowkit;
    static NullSink sink;
    PocketLog::setSinkForTesting(&sink);

    const ByteView bytes(data, size);
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
    WirelessVideoSession session(link, stream, gimbal, commands, stop, {});
    link.onFrame = [&session](const DumlFrame& frame) { session.handleFrame(frame); };
    link.onVideoDatagram = [&stream](ByteView datagram) { stream.pushDatagram(datagram); };
    // As given, and as if it belonged to the link's session.
    link.handleDatagram(bytes);
    if (size >= kUdpHeaderLength) {
        Bytes own(bytes.begin(), bytes.end());
        own[2] = static_cast<uint8_t>(identity.sessionId);
        own[3] = static_cast<uint8_t>(identity.sessionId >> 8);
        link.handleDatagram(own);
    }
    return 0;
}
