#include "hollowkit/wireless/duml_receive_buffer.h"

#include <gtest/gtest.h>

#include <random>

namespace hollowkit {
namespace {

DumlFrame frameWith(uint8_t cmdId, size_t payloadSize) {
    DumlFrame frame;
    frame.target = 0x0207;
    frame.id = 0x8000 | cmdId;
    frame.flags = DumlFrame::kReplyFlags;
    frame.cmdSet = 0x07;
    frame.cmdId = cmdId;
    for (size_t i = 0; i < payloadSize; ++i) frame.payload.push_back(static_cast<uint8_t>('a' + i % 26));
    return frame;
}

Bytes wire(const DumlFrame& frame) {
    return frame.encoded().value();
}

std::vector<DumlFrame> pushInPieces(DumlReceiveBuffer& buffer, const Bytes& bytes, size_t piece) {
    std::vector<DumlFrame> found;
    for (size_t offset = 0; offset < bytes.size(); offset += piece) {
        const size_t length = std::min(piece, bytes.size() - offset);
        auto frames = buffer.push(ByteView(bytes).subspan(offset, length));
        found.insert(found.end(), frames.begin(), frames.end());
    }
    return found;
}

TEST(DumlReceiveBuffer, FramesSplitOverNotificationsAreFoundOnceWhole) {
    const DumlFrame name = frameWith(0x07, 34);
    const DumlFrame password = frameWith(0x0E, 66);
    Bytes stream = {0x00, 0x55, 0x13};  // noise, including a start byte
    for (const auto& frame : {name, password}) {
        Bytes bytes = wire(frame);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    for (size_t piece : {size_t{1}, size_t{7}, size_t{20}, size_t{244}}) {
        SCOPED_TRACE(piece);
        DumlReceiveBuffer buffer;
        auto found = pushInPieces(buffer, stream, piece);
        ASSERT_EQ(found.size(), 2u);
        EXPECT_EQ(found[0], name);
        EXPECT_EQ(found[1], password);
        EXPECT_EQ(buffer.size(), 0u);
        EXPECT_TRUE(buffer.push(Bytes{0x01}).empty());  // nothing found twice
    }
}

TEST(DumlReceiveBuffer, PartialTailWaitsForTheRest) {
    DumlReceiveBuffer buffer;
    Bytes first = wire(frameWith(0x39, 2));
    Bytes second = wire(frameWith(0x48, 2));
    Bytes chunk = first;
    chunk.insert(chunk.end(), second.begin(), second.begin() + 6);
    auto found = buffer.push(chunk);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].cmdId, 0x39);
    EXPECT_EQ(buffer.size(), 6u);
    found = buffer.push(ByteView(second).subspan(6));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].cmdId, 0x48);
}

TEST(DumlReceiveBuffer, NoiseStaysBoundedAndAFrameAfterItIsStillFound) {
    DumlReceiveBuffer buffer;
    std::mt19937 random(7);
    for (int i = 0; i < 50; ++i) {
        Bytes noise(700);
        for (auto& b : noise) b = static_cast<uint8_t>(random() % 3 == 0 ? 0x55 : random());
        buffer.push(noise);
        EXPECT_LE(buffer.size(), DumlReceiveBuffer::kCapacity);
    }
    const DumlFrame frame = frameWith(0x07, 20);
    auto found = pushInPieces(buffer, wire(frame), 20);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.back(), frame);
}

TEST(DumlReceiveBuffer, LongestFrameSurvivesTheCapacityTrim) {
    DumlReceiveBuffer buffer;
    Bytes noise(DumlReceiveBuffer::kCapacity, 0x00);
    buffer.push(noise);
    const DumlFrame longest = frameWith(0x07, DumlFrame::kMaxPayloadLength);
    auto found = pushInPieces(buffer, wire(longest), 20);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], longest);
}

}  // namespace
}  // namespace hollowkit
