#include "hollowkit/camera/duml_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string_view>

#include "hollowkit/camera/duml_constants.h"
#include "hollowkit/camera/duml_crc.h"

namespace hollowkit {
namespace {

ByteView ascii(std::string_view text) {
    return ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

Bytes encode(const DumlFrame& frame) {
    auto wire = frame.encoded();
    EXPECT_TRUE(wire.has_value());
    return wire.has_value() ? wire.value() : Bytes{};
}

Bytes concat(std::initializer_list<ByteView> parts) {
    Bytes out;
    for (ByteView part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

DumlFrame sampleFrame(Bytes payload) {
    DumlFrame frame;
    frame.target = 0x0802;
    frame.id = 0x1234;
    frame.flags = DumlFrame::kRequestFlags;
    frame.cmdSet = 0x04;
    frame.cmdId = 0x05;
    frame.payload = std::move(payload);
    return frame;
}

// The checksums exactly as described: bit by bit, reflected, no final xor.
uint16_t bitwiseCrc16(ByteView bytes) {
    uint16_t crc = 0x3692;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
    }
    return crc;
}

uint8_t bitwiseCrc8(ByteView bytes) {
    uint8_t crc = 0x77;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C) : crc >> 1;
    }
    return crc;
}

TEST(DumlCrcTest, KnownVectors) {
    EXPECT_EQ(DumlFrame::crc8(ascii("abc")), 0xD7);
    EXPECT_EQ(DumlFrame::crc16(ascii("abc")), 0x865A);
}

TEST(DumlCrcTest, TableCrcsMatchBitwiseDefinitionAtEveryLength) {
    std::mt19937 random(7);
    Bytes data(300);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    for (size_t length = 0; length <= data.size(); ++length) {
        const ByteView view(data.data(), length);
        ASSERT_EQ(dumlCrc16(view), bitwiseCrc16(view)) << "length " << length;
        ASSERT_EQ(dumlCrc8(view), bitwiseCrc8(view)) << "length " << length;
    }
    // A checksum continued over a second span equals one over both.
    const ByteView all(data);
    EXPECT_EQ(dumlCrc16(all.subspan(13), dumlCrc16(all.first(13))), dumlCrc16(all));
}

struct FixedFrameCase {
    const char* name;
    const DumlFrame& frame;
    const char* wireHex;
};

TEST(DumlFrameTest, FixedFramesEncodeAndScanExactly) {
    const FixedFrameCase cases[] = {
        {"pairing", DumlConstants::pairingFrame(), "550f04a202f02b8040002b04002440"},
        {"wake", DumlConstants::wakeFrame(), "550f04a202f02b8040002b0101152f"},
        {"wifiRoleQuery", DumlConstants::wifiRoleQueryFrame(), "550e046602073980400739000d0e"},
        {"videoMode", DumlConstants::videoModeFrame(), "550e04660208e1804002e101adca"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes wire = bytesFromHex(c.wireHex);
        EXPECT_EQ(hexString(encode(c.frame)), hexString(wire));
        const auto parsed = DumlFrame::parseAll(wire);
        ASSERT_EQ(parsed.size(), 1u);
        EXPECT_EQ(parsed[0], c.frame);
    }
}

TEST(DumlFrameTest, FixedPayloads) {
    const struct {
        const char* name;
        const Bytes& bytes;
        const char* hex;
    } cases[] = {
        {"appTag", DumlConstants::appTagPayload(), "170046237c415050000000000002"},
        {"gimbalInit", DumlConstants::gimbalInitPayload(), "05ffffffff"},
        {"010405", DumlConstants::payload010405(), "010405"},
        {"FE08", DumlConstants::payloadFE08(), "fe08"},
        {"liveViewA", DumlConstants::liveViewPayloadA(), "0100000000040000000501"},
        {"liveViewB", DumlConstants::liveViewPayloadB(), "0000000000040000000401"},
        {"liveViewC", DumlConstants::liveViewPayloadC(), "00040200000000000000"},
        {"udpOpen", DumlConstants::udpOpenPayload(),
         "000064006400c005140000640000019001c005140000640014006400c00514000064000101040102"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hexString(c.bytes), hexString(bytesFromHex(c.hex))) << c.name;
    }
    EXPECT_EQ(DumlConstants::appTagPayload().size(), 14u);
    EXPECT_EQ(DumlConstants::udpOpenPayload().size(), 40u);
    const auto& burst = DumlConstants::liveViewPayloads();
    EXPECT_EQ(burst[0], DumlConstants::liveViewPayloadA());
    EXPECT_EQ(burst[1], DumlConstants::liveViewPayloadB());
    EXPECT_EQ(burst[2], DumlConstants::liveViewPayloadC());
}

TEST(DumlFrameTest, InfoReplyPayloadLayout) {
    Bytes expected(62, 0);
    expected[1] = 0x41;
    expected[2] = 0x50;
    expected[3] = 0x50;
    expected[41] = 0x02;
    expected[50] = 0x02;
    expected[51] = 0x08;
    EXPECT_EQ(hexString(DumlConstants::infoReplyPayload()), hexString(expected));
}

TEST(DumlFrameTest, CommandKeyIsUpperCaseHex) {
    const struct {
        uint8_t set, id;
        const char* key;
    } cases[] = {{0x0D, 0x02, "0D/02"}, {0x02, 0xE1, "02/E1"}, {0x00, 0x00, "00/00"}, {0xFF, 0xAB, "FF/AB"}};
    for (const auto& c : cases) {
        DumlFrame frame;
        frame.cmdSet = c.set;
        frame.cmdId = c.id;
        EXPECT_EQ(frame.commandKey(), c.key);
    }
}

TEST(DumlFrameTest, MakeReplyAnswersTheSenderWithTheSameIdAndCommand) {
    DumlFrame request = sampleFrame({0x09});
    const Bytes given{0x00, 0x01};

    const DumlFrame reply = DumlFrame::makeReply(request, given);
    EXPECT_EQ(reply.target, 0x0208);
    EXPECT_EQ(reply.id, request.id);
    EXPECT_EQ(reply.flags, 0xC0);
    EXPECT_EQ(reply.cmdSet, request.cmdSet);
    EXPECT_EQ(reply.cmdId, request.cmdId);
    EXPECT_EQ(reply.payload, given);
    EXPECT_TRUE(reply.isReply());

    request.cmdSet = 0x00;
    request.cmdId = 0x81;
    EXPECT_EQ(DumlFrame::makeReply(request, given).payload, DumlConstants::infoReplyPayload());
    EXPECT_EQ(DumlFrame::makeReply(request, {}).payload, DumlConstants::infoReplyPayload());
}

TEST(DumlFrameTest, EncoderWritesTenBitLengthAndRefusesLongerPayloads) {
    const struct {
        size_t payloadLength;
        uint8_t byte1, byte2;
    } cases[] = {
        {0, 13, 0x04}, {242, 255, 0x04}, {243, 0x00, 0x05}, {500, 0x01, 0x06}, {1010, 0xFF, 0x07},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payloadLength);
        const DumlFrame frame = sampleFrame(Bytes(c.payloadLength, 0xA5));
        const Bytes wire = encode(frame);
        ASSERT_EQ(wire.size(), c.payloadLength + 13);
        EXPECT_EQ(wire[1], c.byte1);
        EXPECT_EQ(wire[2], c.byte2);
        const auto parsed = DumlFrame::parseAll(wire);
        ASSERT_FALSE(parsed.empty());
        EXPECT_EQ(parsed[0], frame);
    }
    const auto refused = sampleFrame(Bytes(1011, 0)).encoded();
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), DumlError::payloadTooLong);
}

TEST(DumlFrameTest, ScannerFindsWholeFramesOnly) {
    const DumlFrame empty = sampleFrame({});
    const DumlFrame a = DumlConstants::wifiRoleQueryFrame();
    const DumlFrame b = DumlConstants::pairingFrame();
    const Bytes emptyWire = encode(empty);
    const Bytes aWire = encode(a);
    const Bytes bWire = encode(b);
    const Bytes noise{0x55, 0x00, 0x55, 0x0E, 0x04, 0x12, 0x55};
    const DumlFrame container = sampleFrame(concat({ByteView(noise), ByteView(aWire)}));
    const Bytes containerWire = encode(container);

    const struct {
        const char* name;
        Bytes input;
        std::vector<DumlFrame> expected;
    } cases[] = {
        {"nothing", {}, {}},
        {"12 bytes of a frame", Bytes(emptyWire.begin(), emptyWire.begin() + 12), {}},
        {"13-byte frame", emptyWire, {empty}},
        {"leading noise", concat({ByteView(noise), ByteView(aWire)}), {a}},
        {"back to back", concat({ByteView(aWire), ByteView(bWire)}), {a, b}},
        {"own first 5 bytes after it", concat({ByteView(aWire), ByteView(aWire).first(5)}), {a}},
        {"cut off at the end", concat({ByteView(aWire), ByteView(bWire).first(bWire.size() - 1)}), {a}},
        {"nested after its container", containerWire, {container, a}},
        {"noise between", concat({ByteView(noise), ByteView(bWire), ByteView(noise), ByteView(aWire), ByteView(noise)}),
         {b, a}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DumlFrame::parseAll(c.input), c.expected);
    }
}

TEST(DumlFrameTest, ScannerRejectsBadChecksumsButFindsFramesInside) {
    const DumlFrame inner = DumlConstants::videoModeFrame();
    const Bytes innerWire = encode(inner);
    const Bytes outerWire = encode(sampleFrame(innerWire));

    Bytes badCrc8 = outerWire;
    badCrc8[3] ^= 0x01;
    Bytes badCrc16 = outerWire;
    badCrc16.back() ^= 0x80;

    for (const Bytes& input : {badCrc8, badCrc16}) {
        const auto parsed = DumlFrame::parseAll(input);
        ASSERT_EQ(parsed.size(), 1u);
        EXPECT_EQ(parsed[0], inner);
    }
    Bytes lone = innerWire;
    lone[lone.size() - 2] ^= 0x01;
    EXPECT_TRUE(DumlFrame::parseAll(lone).empty());
}

// Header fields the checksums do not protect against: a frame whose CRCs are
// right but whose version or length field is impossible is still refused.
TEST(DumlFrameTest, ScannerRejectsWrongVersionAndShortLength) {
    auto withHeader = [](uint8_t lengthLow, uint8_t byte2, size_t total) {
        Bytes wire(total, 0x00);
        wire[0] = 0x55;
        wire[1] = lengthLow;
        wire[2] = byte2;
        wire[3] = dumlCrc8(ByteView(wire).first(3));
        const uint16_t crc = dumlCrc16(ByteView(wire).first(total - 2));
        wire[total - 2] = static_cast<uint8_t>(crc);
        wire[total - 1] = static_cast<uint8_t>(crc >> 8);
        return wire;
    };
    EXPECT_EQ(DumlFrame::parseAll(withHeader(13, 0x04, 13)).size(), 1u);  // the control case
    EXPECT_TRUE(DumlFrame::parseAll(withHeader(13, 0x08, 13)).empty());   // version 2
    EXPECT_TRUE(DumlFrame::parseAll(withHeader(12, 0x04, 12)).empty());
    Bytes shortLength = withHeader(12, 0x04, 12);
    shortLength.push_back(0);  // 13 bytes of input, length field 12
    EXPECT_TRUE(DumlFrame::parseAll(shortLength).empty());
}

TEST(DumlFrameTest, RandomFramesRoundTrip) {
    std::mt19937 random(42);
    for (int n = 0; n < 500; ++n) {
        DumlFrame frame;
        frame.target = static_cast<uint16_t>(random());
        frame.id = static_cast<uint16_t>(random());
        frame.flags = static_cast<uint8_t>(random());
        frame.cmdSet = static_cast<uint8_t>(random());
        frame.cmdId = static_cast<uint8_t>(random());
        frame.payload.resize(random() % (DumlFrame::kMaxPayloadLength + 1));
        for (auto& b : frame.payload) b = static_cast<uint8_t>(random());
        const auto parsed = DumlFrame::parseAll(encode(frame));
        ASSERT_FALSE(parsed.empty());
        ASSERT_EQ(parsed[0], frame);
    }
}

// Whatever the input, the scanner returns only frames whose exact wire bytes
// occur in it (and sanitizer builds check that it never reads outside).
TEST(DumlFrameTest, RandomInputYieldsOnlyFramesPresentInIt) {
    std::mt19937 random(3);
    const Bytes good = encode(sampleFrame({1, 2, 3}));
    for (int n = 0; n < 300; ++n) {
        Bytes input(random() % 2048);
        for (auto& b : input) {
            // Bias towards the start byte so headers are often tried.
            b = (random() % 8 == 0) ? 0x55 : static_cast<uint8_t>(random());
        }
        if (n % 2 == 0 && input.size() > good.size()) {
            std::copy(good.begin(), good.end(), input.begin() + static_cast<std::ptrdiff_t>(random() % (input.size() - good.size())));
        }
        for (const DumlFrame& frame : DumlFrame::parseAll(input)) {
            const Bytes wire = encode(frame);
            ASSERT_NE(std::search(input.begin(), input.end(), wire.begin(), wire.end()), input.end());
        }
    }
}

}  // namespace
}  // namespace hollowkit
