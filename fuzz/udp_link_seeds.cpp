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
#include <vector>

#include "hollowkit/camera/camera_types.h"
#include "hollowkit/camera/duml_frame.h"
#include "hollowkit/wireless/udp_packet.h"
#include "seed_folder.h"

namespace {

using namespace hollowkit;

constexpr uint16_t kSession = 0x2000;  // the target's link session
constexpr uint16_t kChannel = 0x2340;
constexpr uint8_t kControlFixFrames = 0x01;
constexpr size_t kReliablePrefix = 12;

std::filesystem::path folder;

void write(const std::string& name, const Bytes& datagram, uint8_t control = kControlFixFrames) {
    std::ofstream out(folder / name, std::ios::binary);
    out.put(static_cast<char>(control));
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

Bytes reliable(const std::vector<DumlFrame>& frames, uint16_t sequence, uint16_t channel = kChannel) {
    Bytes body(kReliablePrefix, 0);
    body[0] = static_cast<uint8_t>(channel);
    body[1] = static_cast<uint8_t>(channel >> 8);
    for (const DumlFrame& frame : frames) {
        const Bytes wire = frame.encoded().value();
        body.insert(body.end(), wire.begin(), wire.end());
    }
    return udpPacket(UdpPacketType::reliable, kSession, sequence, body);
}

}  // namespace

int main(int argc, char** argv) {
    const auto chosen = seedFolder(argc, argv);
    if (!chosen) return 2;
    folder = *chosen;

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

    // Past the plateau: the decoders' refusals and edges, the frame scanner
    // past noise and a bad checksum, and the receive log's limits (three
    // lines a key, 64 an interval, then a summary).
    write("handshake", udpPacket(UdpPacketType::handshake, kSession, 1, Bytes{0x00, 0x01}));
    write("status_all_zero", CameraStatusReport{0, 0, 0, 0}.datagram(kSession, 0));
    write("reliable_channel_zero_sequence_zero",
          reliable({push(4, 0x04, 0x05, Bytes{0x10, 0x00, 0x20, 0x00, 0x30, 0x00})}, 0, 0));
    write("video_sequence_zero", udpPacket(UdpPacketType::video, kSession, 0, Bytes(24, 0)));
    write("ack_short", udpPacket(UdpPacketType::ack, kSession, 0, Bytes{1, 2, 3, 4}));
    write("command_prefix_only", udpPacket(UdpPacketType::command, kSession, 4, prefix.bytes()));
    write("push_attitude_short", reliable({push(4, 0x04, 0x05, Bytes{0x01, 0x02})}, 17));

    Bytes overfull = battery;
    overfull[20] = 101;
    write("push_battery_over_100",
          reliable({push(13, BatteryStatus::kPushCmdSet, BatteryStatus::kPushCmdId, overfull)}, 18));
    write("push_battery_short",
          reliable({push(13, BatteryStatus::kPushCmdSet, BatteryStatus::kPushCmdId, Bytes(20, 50))}, 19));

    // Starting or stopping, no elapsed time; an empty card; more free than total.
    Bytes starting(13, 0);
    starting[0] = 0x40;
    starting[5] = 100;
    starting[9] = 50;
    Bytes empty = starting;
    empty[0] = 0x00;
    empty[5] = 0;
    Bytes overFree = starting;
    overFree[9] = 200;
    write("push_card_states",
          reliable({push(1, CardStorage::kPushCmdSet, CardStorage::kPushCmdId, starting),
                    push(1, CardStorage::kPushCmdSet, CardStorage::kPushCmdId, empty),
                    push(1, CardStorage::kPushCmdSet, CardStorage::kPushCmdId, overFree),
                    push(1, CardStorage::kPushCmdSet, CardStorage::kPushCmdId, Bytes{0x80})},
                   20));

    std::vector<DumlFrame> repeated(5, push(13, BatteryStatus::kPushCmdSet, BatteryStatus::kPushCmdId, battery));
    write("same_key_five_times", reliable(repeated, 21));
    std::vector<DumlFrame> manyKeys;
    for (int k = 0; k < 70; ++k) manyKeys.push_back(push(7, static_cast<uint8_t>(0x40 + k / 16), static_cast<uint8_t>(k), {}));
    write("seventy_keys", reliable(manyKeys, 22));
    write("long_payload_unknown_key", reliable({push(9, 0x33, 0x44, Bytes(60, 0xAB), DumlFrame::kReplyFlags)}, 23));

    // Noise, a frame whose last checksum is wrong, then a good frame; sent
    // without the target's checksum mending.
    Bytes noisy = reliable({push(4, 0x04, 0x05, Bytes{0x10, 0x00, 0x20, 0x00, 0x30, 0x00})}, 24);
    const Bytes bad = push(4, 0x04, 0x50, Bytes{0x00}, DumlFrame::kReplyFlags).encoded().value();
    Bytes noise = {0x55, 0x00, 0x55, 0x0D, 0x04, 0x55};
    noise.insert(noise.end(), bad.begin(), bad.end());
    noise.back() ^= 0xFF;
    noisy.insert(noisy.begin() + kUdpHeaderLength + kReliablePrefix, noise.begin(), noise.end());
    write("noise_bad_checksum_then_frame", noisy, 0);

    // Whole runs (control bits 1 and 2): the replies the session waits for
    // (card recording accepted, zoom refused, the flip, heartbeats and the
    // camera's name), with the handshake answered or not.
    constexpr uint8_t kWholeRun = 0x02 | kControlFixFrames;
    constexpr uint8_t kAnswered = 0x04;
    const std::string name = "OsmoPocket3";
    const Bytes replies =
        reliable({push(1, 0x02, 0x02, Bytes{0x00}, DumlFrame::kReplyFlags),
                  push(1, 0x02, 0xB8, Bytes{0x01}, DumlFrame::kReplyFlags),
                  push(4, 0x04, 0x4C, Bytes{0x00}, DumlFrame::kReplyFlags),
                  push(4, 0x04, 0x50, Bytes{0x00, 0x01}, DumlFrame::kReplyFlags),
                  push(7, 0x07, 0x07, Bytes(name.begin(), name.end()), DumlFrame::kReplyFlags)},
                 30);
    write("run_replies_answered", replies, kWholeRun | kAnswered);
    write("run_replies_unanswered", replies, kWholeRun);
    write("run_status_answered", CameraStatusReport{kChannel, 7, 16, 3}.datagram(kSession, 9), kWholeRun | kAnswered);
    write("run_video_answered", video, kWholeRun | kAnswered);
    return 0;
}
