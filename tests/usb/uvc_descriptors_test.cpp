#include "hollowkit/usb/uvc_descriptors.h"

#include <gtest/gtest.h>

#include "hollowkit/testing/fake_usb_sysfs.h"

namespace hollowkit {
namespace {

// Class-specific video-control descriptors, written out byte by byte.
Bytes header(uint16_t totalLength, uint8_t length = 13, uint8_t subtype = 0x01) {
    ByteWriter w;
    w.u8(length).u8(0x24).u8(subtype).u16(0x0110).u16(totalLength);
    while (w.size() < length) w.u8(0);
    return std::move(w).take();
}

Bytes inputTerminal(uint8_t id, uint16_t type = 0x0201) {
    ByteWriter w;
    w.u8(18).u8(0x24).u8(0x02).u8(id).u16(type);
    while (w.size() < 18) w.u8(0);
    return std::move(w).take();
}

Bytes processingUnit(uint8_t id) {
    return {13, 0x24, 0x05, id, 1, 0, 0, 3, 0, 0, 0, 0, 0};
}

Bytes outputTerminal(uint8_t id) {
    return {9, 0x24, 0x03, id, 0x01, 0x01, 0, 2, 0};
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct WalkCase {
    const char* name;
    Bytes blob;
    uint8_t expected;
};

TEST(UvcDescriptorsTest, CameraTerminalWalk) {
    const std::vector<WalkCase> cases = {
        {"camera terminal first", join({header(13 + 18 + 13 + 9), inputTerminal(5), processingUnit(6), outputTerminal(7)}), 5},
        {"camera terminal after other units", join({header(13 + 13 + 9 + 18), processingUnit(2), outputTerminal(3), inputTerminal(9)}), 9},
        {"only a streaming input terminal", join({header(13 + 18 + 9), inputTerminal(4, 0x0101), outputTerminal(3)}), 1},
        {"no input terminal at all", join({header(13 + 13 + 9), processingUnit(2), outputTerminal(3)}), 1},
        {"first camera terminal wins", join({header(13 + 36), inputTerminal(3), inputTerminal(8)}), 3},
        // The span is wTotalLength: a terminal needs its first 8 bytes in it.
        {"terminal starts 7 bytes before the span's end", join({header(13 + 7), inputTerminal(5)}), 1},
        {"terminal starts 8 bytes before the span's end", join({header(13 + 8), inputTerminal(5)}), 5},
        {"terminal beyond wTotalLength", join({header(13 + 9), outputTerminal(3), inputTerminal(5)}), 1},
        {"zero bLength ends the walk", join({header(13 + 9 + 18), Bytes{0, 0x24, 0, 0, 0, 0, 0, 0, 0}, inputTerminal(5)}), 1},
        {"one-byte steps still reach the terminal", join({header(13 + 3 + 18), Bytes{1, 1, 1}, inputTerminal(6)}), 6},
        {"header of the wrong subtype", join({header(13 + 18, 13, 0x02), inputTerminal(5)}), 1},
        {"header bLength 6", join({Bytes{6, 0x24, 0x01, 0x10, 0x01, 24, 0}, inputTerminal(5)}), 1},
        {"header bLength 7 is enough", join({Bytes{7, 0x24, 0x01, 0x10, 0x01, 25, 0}, inputTerminal(5)}), 5},
        {"wTotalLength 7", join({header(7), inputTerminal(5)}), 1},
        {"not a class-specific descriptor", join({Bytes{13, 0x04, 0x01, 0, 0, 31, 0, 0, 0, 0, 0, 0, 0}, inputTerminal(5)}), 1},
        // Bytes the device claims but never sent.
        {"wTotalLength past the bytes, terminal cut short", join({header(400), Bytes{18, 0x24, 0x02, 5, 0x01}}), 1},
        {"wTotalLength past the bytes, 8 bytes of terminal", join({header(400), Bytes{18, 0x24, 0x02, 5, 0x01, 0x02, 0, 0}}), 5},
        {"header bLength 255 leaps out", join({header(40, 255)}), 1},
        {"empty", Bytes{}, 1},
        {"shorter than a header", Bytes{13, 0x24, 0x01, 0x10, 0x01, 40}, 1},
    };
    for (const WalkCase& c : cases) {
        EXPECT_EQ(cameraTerminalId(c.blob), c.expected) << c.name;
    }
}

TEST(UvcDescriptorsTest, FindsTheVideoControlInterfaceOfAWholeDevice) {
    struct Case {
        const char* name;
        FakeUvcDescriptorOptions options;
        std::optional<VideoControlAddress> expected;
    };
    const std::vector<Case> cases = {
        {"default camera", {}, VideoControlAddress{0, 1}},
        {"interface 2, terminal 7", {.controlInterface = 2, .cameraTerminalId = 7}, VideoControlAddress{2, 7}},
        {"no camera terminal", {.cameraTerminal = false}, VideoControlAddress{0, 1}},
        {"no video control", {.videoControl = false}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(videoControlAddress(fakeUvcDescriptors(c.options)), c.expected) << c.name;
    }
}

TEST(UvcDescriptorsTest, ClassSpecificDescriptorsBelongToTheirInterface) {
    ByteWriter w;
    w.u8(9).u8(0x02).u16(9 + 9 + 9 + 13).u8(2).u8(1).u8(0).u8(0x80).u8(250);
    // A video-control interface with no class-specific descriptor of its own,
    // followed by a streaming interface whose header must not be taken.
    w.u8(9).u8(0x04).u8(3).u8(0).u8(0).u8(0x0E).u8(0x01).u8(0).u8(0);
    w.u8(9).u8(0x04).u8(4).u8(0).u8(0).u8(0x0E).u8(0x02).u8(0).u8(0);
    w.append(header(13));
    const auto found = findVideoControlInterface(w.bytes());
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->interfaceNumber, 3);
    EXPECT_FALSE(found->classSpecificOffset.has_value());
}

TEST(UvcDescriptorsTest, BrokenStandardDescriptorsStopTheSearch) {
    const Bytes device = fakeUvcDescriptors({.cameraTerminalId = 4});
    // A zero-length descriptor before the interfaces hides them.
    Bytes zeroed = device;
    zeroed[18 + 9] = 0;
    EXPECT_EQ(videoControlAddress(zeroed), std::nullopt);

    // Every truncation either finds nothing, falls back to the default id or
    // finds the right one, and never reads past the end (ASan watches).
    for (size_t length = 0; length <= device.size(); ++length) {
        const Bytes cut(device.begin(), device.begin() + static_cast<std::ptrdiff_t>(length));
        const auto address = videoControlAddress(cut);
        if (address) {
            EXPECT_EQ(address->interfaceNumber, 0) << length;
            EXPECT_TRUE(address->cameraTerminalId == 1 || address->cameraTerminalId == 4) << length;
        }
    }
    EXPECT_EQ(videoControlAddress(device), (VideoControlAddress{0, 4}));
}

}  // namespace
}  // namespace hollowkit
