#include "hollowkit/wireless/udp_packet.h"

#include <gtest/gtest.h>

#include <random>

namespace hollowkit {
namespace {

TEST(UdpPacketTest, HeaderOfFortyBytePayload) {
    const Bytes header = packetHeader(UdpPacketType::handshake, 40, 0x1234, 0xBEEF);
    const uint8_t check = 0x30 ^ 0x80 ^ 0x34 ^ 0x12 ^ 0xEF ^ 0xBE ^ 0x00;
    EXPECT_EQ(header, (Bytes{0x30, 0x80, 0x34, 0x12, 0xEF, 0xBE, 0x00, check}));

    Bytes packet = header;
    packet.resize(48, 0);
    EXPECT_TRUE(UdpPacketHeader::isWellFormed(packet));
    auto parsed = UdpPacketHeader::parse(packet);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, (UdpPacketHeader{48, 0x1234, 0xBEEF, 0}));
}

TEST(UdpPacketTest, LongLengthUsesTheHighBitsOfByteOne) {
    const Bytes header = packetHeader(UdpPacketType::video, 1392, 1, 2);
    EXPECT_EQ(header[0], 0x78);  // 1400 = 0x578
    EXPECT_EQ(header[1], 0x85);
}

TEST(UdpPacketTest, WellFormedRejectsEachDamage) {
    Bytes good = udpPacket(UdpPacketType::ack, 7, 0, Bytes(26, 0));
    ASSERT_TRUE(UdpPacketHeader::isWellFormed(good));
    for (size_t byte : {0, 1, 7}) {
        Bytes bad = good;
        bad[byte] ^= 0x40;
        EXPECT_FALSE(UdpPacketHeader::isWellFormed(bad)) << "byte " << byte;
    }
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(UdpPacketHeader::isWellFormed(longer));
    EXPECT_FALSE(UdpPacketHeader::parse(Bytes(7, 0)));
}

TEST(UdpPacketTest, StatusReportNeedsThirtyFourBytes) {
    const CameraStatusReport report{0x1230, 0x0101, 0x0202, 0x1238};
    Bytes datagram = report.datagram(9, 1);
    ASSERT_EQ(datagram.size(), 34u);
    EXPECT_EQ(datagram[8], 0x30);
    EXPECT_EQ(datagram[24], 0x38);
    EXPECT_EQ(CameraStatusReport::parse(datagram), report);
    datagram.pop_back();
    EXPECT_FALSE(CameraStatusReport::parse(datagram));
}

TEST(UdpPacketTest, AckRecordLayout) {
    const AckRecord record{0x1111, 0x2222, 0x3333, 0x4444};
    const Bytes payload = record.payload();
    EXPECT_EQ(payload, bytesFromHex("1111111100000000222222220000000033334444000000000000"));
    const Bytes datagram = udpPacket(UdpPacketType::ack, 5, 0, payload);
    EXPECT_EQ(AckRecord::parse(datagram), record);
    EXPECT_FALSE(AckRecord::parse(ByteView(datagram).first(33)));
}

TEST(UdpPacketTest, CommandDatagramRoundTrip) {
    DumlFrame frame;
    frame.target = DumlFrame::makeTarget(0x02, 0x04);
    frame.id = 0xA000;
    frame.flags = 0x40;
    frame.cmdSet = 0x04;
    frame.cmdId = 0x50;
    frame.payload = {1, 4, 5};
    const CommandPrefix prefix{0x1230, 0x1238, 1};
    EXPECT_EQ(prefix.bytes(), bytesFromHex("301238120000000001010000"));
    Bytes body = prefix.bytes();
    const Bytes encoded = frame.encoded().value();
    body.insert(body.end(), encoded.begin(), encoded.end());

    auto parsed = CommandDatagram::parse(udpPacket(UdpPacketType::command, 77, 0x1238, body));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->prefix, prefix);
    ASSERT_EQ(parsed->frames.size(), 1u);
    EXPECT_EQ(parsed->frames[0], frame);
    EXPECT_FALSE(CommandDatagram::parse(udpPacket(UdpPacketType::reliable, 77, 0x1238, body)));
    EXPECT_FALSE(CommandDatagram::parse(udpPacket(UdpPacketType::command, 77, 0x1238, ByteView(body).first(11))));
}

// Every parser takes any bytes: random datagrams of every short length and
// some long ones, most with a plausible header.
TEST(UdpPacketTest, ParsersTakeArbitraryBytes) {
    std::mt19937 random(42);
    for (int round = 0; round < 3000; ++round) {
        Bytes bytes(round % 60 + (round % 7 == 0 ? 1500 : 0));
        for (auto& byte : bytes) {
            byte = static_cast<uint8_t>(random());
        }
        if (bytes.size() > 8 && round % 2 == 0) {
            bytes[6] = static_cast<uint8_t>(round % 6);
        }
        const auto header = UdpPacketHeader::parse(bytes);
        EXPECT_EQ(header.has_value(), bytes.size() >= 8);
        (void)UdpPacketHeader::isWellFormed(bytes);
        EXPECT_EQ(CameraStatusReport::parse(bytes).has_value(), bytes.size() >= 34);
        (void)AckRecord::parse(bytes);
        (void)CommandDatagram::parse(bytes);
        (void)dumlFramesIn(bytes);
    }
}

}  // namespace
}  // namespace hollowkit
