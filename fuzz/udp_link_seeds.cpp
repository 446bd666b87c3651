// Writes the UDP link target's seeds into the folder given: one datagram of
// each type the link reads, and a reliable datagram for every push and reply
// the live-view session decodes, all made with the library's own encoders.
// Each file is the target's control byte (frames fixed) and the datagram.
//
//   build/fuzz/fuzz/udp_link_seeds fuzz/corpus/udp_link

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "hollowkit/camera/camera_types.h"
#include "hollowkit/camera/duml_frame.h"
#include "hollowkit/wireless/udp_packet.h"

namespace {

using namespace hollowkit;

constexpr uint16_t kSession = 0x2000;  // the target's link session
constexpr uint16_t kChannel = 0x2340;
constexpr uint8_t kControlFixFrames = 0x01;
constexpr size_t kReliablePrefix = 12;

std::filesystem::path folder;

void write(const std::string& name, const Bytes& datagram) {
    std::ofstream out(folder / name, std::ios::binary);
    out.put(static_cast<char>(kControlFixFrames));
    out.write(reinterpret_cast<const char*>(datagram.data()), static_cast<std::streamsize>(datagram.size()));
}

DumlFrame push(int senderType, uint8_t cmdSet, uint8_t cmdId, Bytes payload, uint8_t flags = 0) {
    DumlFrame frame;
    frame.target = DumlFrame::makeTarget(DumlFrame::address(senderType, 0), DumlFrame::address(2, 0));
    frame.id = 0x0101;
    frame.flags = flags;
    frame.cmdSet = cmdSet;
    frame.cmdId = cmdId;
    frame.payload = std::move(payload);
    return frame;
}

Bytes reliable(std::initializer_list<DumlFrame> frames, uint16_t sequence) {
    Bytes body(kReliablePrefix, 0);
    body[0] = static_cast<uint8_t>(kChannel);
    body[1] = static_cast<uint8_t>(kChannel >> 8);
    for (const DumlFrame& frame : frames) {
        const Bytes wire = frame.encoded().value();
        body.insert(body.end(), wire.begin(), wire.end());
    }
    return udpPacket(UdpPacketType::reliable, kSession, sequence, body);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    folder = argv[1];
    std::filesystem::create_directories(folder);

    // Gimbal attitude: pitch -12.5, roll 0.3, yaw 170.1 degrees in tenths.
    ByteWriter attitude;
    attitude.i16(-125).i16(3).i16(1701);
    write("push_attitude", reliable({push(4, 0x04, 0x05, std::move(attitude).take())}, 11));

    Bytes battery(33, 0);
    battery[20] = 76;
    battery[32] = 1;
    write("push_battery", reliable({push(13, BatteryStatus::kPushCmdSet, BatteryStatus::kPushCmdId, battery)}, 12));

    // Recording for 75 s on a card of 60000 MB with 41000 MB free.
    Bytes card(31, 0);
    card[0] = 0x80;
    ByteWriter sizes;
    sizes.u32(60000).u32(41000);
    const Bytes sizeBytes = std::move(sizes).take();
    std::copy(sizeBytes.begin(), sizeBytes.end(), card.begin() + 5);
    card[29] = 75;
    write("push_card", reliable({push(1, CardStorage::kPushCmdSet, CardStorage::kPushCmdId, card)}, 13));

    write("reply_heartbeat", reliable({push(4, 0x04, 0x50, Bytes{0x00, 0x01}, DumlFrame::kReplyFlags)}, 14));
    write("reply_recenter", reliable({push(4, 0x04, 0x4C, Bytes{0x00}, DumlFrame::kReplyFlags)}, 15));
    write("reply_and_push",
          reliable({push(8, 0x00, 0x81, Bytes{0x00, 0x41, 0x42}, DumlFrame::kReplyFlags),
                    push(13, BatteryStatus::kPushCmdSet, BatteryStatus::kPushCmdId, battery)},
                   16));

    CameraStatusReport status{kChannel, 7, 16, 3};
    write("status", status.datagram(kSession, 9));

    AckRecord ack{7, 16, 3, 4};
    write("ack", udpPacket(UdpPacketType::ack, kSession, 0, ack.payload()));

    CommandPrefix prefix{3, 4, 1};
    Bytes command = prefix.bytes();
    const Bytes request = DumlFrame::makeRequest(DumlFrame::makeTarget(DumlFrame::address(2, 0), DumlFrame::address(4, 0)),
                                                 0x0202, 0x04, 0x50, Bytes{0x01})
                              .encoded()
                              .value();
    command.insert(command.end(), request.begin(), request.end());
    write("command", udpPacket(UdpPacketType::command, kSession, 4, command));

    Bytes video(VideoDatagramLayout::kStartHeaderLength + 24, 0);
    std::copy(std::begin(VideoDatagramLayout::kMarker), std::end(VideoDatagramLayout::kMarker),
              video.begin() + VideoDatagramLayout::kPrefixLength);
    video[VideoDatagramLayout::kLengthOffset] = 24;
    const Bytes header = packetHeader(UdpPacketType::video, video.size() - kUdpHeaderLength, kSession, 5);
    std::copy(header.begin(), header.end(), video.begin());
    write("video_start", video);
    return 0;
}
