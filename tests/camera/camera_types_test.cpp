#include "hollowkit/camera/camera_types.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace hollowkit {
namespace {

DumlFrame pushFrame(uint8_t cmdSet, uint8_t cmdId, Bytes payload) {
    DumlFrame frame;
    frame.flags = DumlFrame::kRequestFlags;
    frame.cmdSet = cmdSet;
    frame.cmdId = cmdId;
    frame.payload = std::move(payload);
    return frame;
}

Bytes batteryPayload(uint8_t percent, uint8_t charging, size_t size = 33) {
    Bytes payload(size, 0xA5);
    if (size > 20) {
        payload[20] = percent;
    }
    if (size > 32) {
        payload[32] = charging;
    }
    return payload;
}

Bytes cardPayload(uint32_t total, uint32_t available, size_t size = 13) {
    ByteWriter writer;
    writer.u8(0x80).u32(0x0102'0304);  // the recording state byte first, then other fields
    writer.u32(total).u32(available);
    Bytes payload = std::move(writer).take();
    payload.resize(size, 0x33);
    return payload;
}

TEST(BatteryStatusTest, DecodesThePush) {
    struct Case {
        const char* name;
        Bytes payload;
        std::optional<BatteryStatus> expected;
    };
    const Case cases[] = {
        {"charging", batteryPayload(57, 1), BatteryStatus{57, true}},
        {"byte 32 of 2 is not charging", batteryPayload(57, 2), BatteryStatus{57, false}},
        {"byte 32 of 0", batteryPayload(3, 0), BatteryStatus{3, false}},
        {"full", batteryPayload(100, 1), BatteryStatus{100, true}},
        {"empty battery", batteryPayload(0, 0), BatteryStatus{0, false}},
        {"101 percent", batteryPayload(101, 1), std::nullopt},
        {"255 percent", batteryPayload(255, 0), std::nullopt},
        {"longer payload", batteryPayload(80, 1, 60), BatteryStatus{80, true}},
        {"32 bytes", batteryPayload(80, 1, 32), std::nullopt},
        {"empty", Bytes{}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BatteryStatus::fromFrame(pushFrame(0x0D, 0x02, c.payload)), c.expected) << c.name;
    }
}

TEST(CardStorageTest, DecodesThePush) {
    struct Case {
        const char* name;
        Bytes payload;
        std::optional<CardStorage> expected;
    };
    const Case cases[] = {
        {"some free", cardPayload(60'000, 12'345), CardStorage{12'345, 60'000}},
        {"full card", cardPayload(60'000, 0), CardStorage{0, 60'000}},
        {"empty card", cardPayload(60'000, 60'000), CardStorage{60'000, 60'000}},
        {"all 32 bits unsigned", cardPayload(0xFFFF'FFFF, 0x8000'0000), CardStorage{0x8000'0000, 0xFFFF'FFFF}},
        {"total 0", cardPayload(0, 0), std::nullopt},
        {"free beyond total", cardPayload(1000, 1001), std::nullopt},
        {"12 bytes", cardPayload(60'000, 1, 12), std::nullopt},
        {"longer payload", cardPayload(60'000, 1, 40), CardStorage{1, 60'000}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CardStorage::fromFrame(pushFrame(0x02, 0x80, c.payload)), c.expected) << c.name;
    }
}

TEST(CardStorageTest, ReadsLittleEndianAtOffsetsFiveAndNine) {
    const Bytes payload = bytesFromHex("8000000000" "00000100" "e8030000");
    EXPECT_EQ(CardStorage::fromPayload(payload), (CardStorage{1000, 65536}));
}

TEST(PushDecodersTest, OtherCommandKeysYieldNothing) {
    const Bytes battery = batteryPayload(50, 1, 40);
    const Bytes card = cardPayload(5000, 100, 40);
    for (auto [cmdSet, cmdId] : {std::pair{0x0D, 0x03}, std::pair{0x0C, 0x02}, std::pair{0x02, 0x81},
                                 std::pair{0x00, 0x00}}) {
        EXPECT_EQ(BatteryStatus::fromFrame(pushFrame(cmdSet, cmdId, battery)), std::nullopt);
        EXPECT_EQ(CardStorage::fromFrame(pushFrame(cmdSet, cmdId, card)), std::nullopt);
    }
    // Each push is only for its own decoder, whatever the payload holds.
    EXPECT_EQ(BatteryStatus::fromFrame(pushFrame(0x02, 0x80, battery)), std::nullopt);
    EXPECT_EQ(CardStorage::fromFrame(pushFrame(0x0D, 0x02, card)), std::nullopt);
}

TEST(PushDecodersTest, TruncatedPayloadsYieldNothing) {
    const Bytes battery = batteryPayload(50, 1);
    const Bytes card = cardPayload(5000, 100);
    for (size_t length = 0; length < battery.size(); ++length) {
        EXPECT_EQ(BatteryStatus::fromPayload(ByteView(battery).first(length)), std::nullopt) << length;
    }
    for (size_t length = 0; length < card.size(); ++length) {
        EXPECT_EQ(CardStorage::fromPayload(ByteView(card).first(length)), std::nullopt) << length;
    }
}

TEST(PushDecodersTest, GarbageNeverBreaksTheInvariants) {
    std::mt19937 random(20240501);
    for (int round = 0; round < 2000; ++round) {
        Bytes garbage(random() % 48);
        for (auto& byte : garbage) {
            byte = static_cast<uint8_t>(random());
        }
        if (const auto battery = BatteryStatus::fromPayload(garbage)) {
            EXPECT_GE(garbage.size(), 33U);
            EXPECT_LE(battery->percent, 100);
            EXPECT_GE(battery->percent, 0);
        }
        if (const auto card = CardStorage::fromPayload(garbage)) {
            EXPECT_GE(garbage.size(), 13U);
            EXPECT_GT(card->totalMegabytes, 0);
            EXPECT_LE(card->freeMegabytes, card->totalMegabytes);
            EXPECT_GE(card->freeMegabytes, 0);
        }
    }
}

TEST(CameraPositionTest, WritesExactlyTheStoredKeys) {
    EXPECT_EQ(CameraPosition({12.5, -3.25, std::nullopt}).toJson(), R"({"pan":12.5,"tilt":-3.25})");
    EXPECT_EQ(CameraPosition({180.0, 0.0, 250}).toJson(), R"({"pan":180.0,"tilt":0.0,"zoom":250})");
}

TEST(CameraPositionTest, RoundTripsExactly) {
    const CameraPosition positions[] = {
        {0.0, 0.0, std::nullopt},
        {0.1, -0.2, 100},
        {-179.99999999999997, 89.123456789012345, 1200},
        {1e-300, -1e300, std::nullopt},
        {45.0, 12.5, 0},
    };
    for (const CameraPosition& position : positions) {
        const auto json = position.toJson();
        ASSERT_TRUE(json.has_value());
        EXPECT_EQ(CameraPosition::fromJson(*json), position) << *json;
    }
}

TEST(CameraPositionTest, NonFiniteAnglesCannotBeWritten) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(CameraPosition({nan, 0.0, std::nullopt}).toJson(), std::nullopt);
    EXPECT_EQ(CameraPosition({0.0, -inf, 100}).toJson(), std::nullopt);
}

TEST(CameraPositionTest, ReadsTolerantlyAndRefusesWhatItCannotUse) {
    struct Case {
        const char* json;
        std::optional<CameraPosition> expected;
    };
    const Case cases[] = {
        {R"({"pan":10,"tilt":-5})", CameraPosition{10.0, -5.0, std::nullopt}},
        {R"({"tilt":2.5,"zoom":null,"pan":1})", CameraPosition{1.0, 2.5, std::nullopt}},
        {R"({"pan":1,"tilt":2,"zoom":150.0})", CameraPosition{1.0, 2.0, 150}},
        {R"({"pan":1,"tilt":2,"zoom":-20})", CameraPosition{1.0, 2.0, -20}},
        {R"({"pan":1,"tilt":2,"name":"Desk","zoom":300})", CameraPosition{1.0, 2.0, 300}},
        {R"( { "pan" : 1e2 , "tilt" : -0 } )", CameraPosition{100.0, 0.0, std::nullopt}},
        {R"({"tilt":2})", std::nullopt},
        {R"({"pan":1})", std::nullopt},
        {R"({"pan":null,"tilt":2})", std::nullopt},
        {R"({"pan":"1","tilt":2})", std::nullopt},
        {R"({"pan":true,"tilt":2})", std::nullopt},
        {R"({"pan":1,"tilt":2,"zoom":150.5})", std::nullopt},
        {R"({"pan":1,"tilt":2,"zoom":"150"})", std::nullopt},
        {R"({"pan":1,"tilt":2,"zoom":3000000000})", std::nullopt},
        {R"({"pan":1,"tilt":2,"zoom":-3000000000})", std::nullopt},
        {R"({"pan":1,"tilt":1e999})", std::nullopt},
        {R"([1,2,3])", std::nullopt},
        {R"("pan")", std::nullopt},
        {R"({"pan":1,"tilt":2)", std::nullopt},
        {"", std::nullopt},
        {"\xff\xfe{}", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CameraPosition::fromJson(c.json), c.expected) << c.json;
    }
}

TEST(VideoFormatOptionTest, LabelIsNamedByTheShorterSide) {
    struct Case {
        VideoFormatOption format;
        const char* label;
    };
    const Case cases[] = {
        {{3840, 2160, 30}, "4K 30 FPS"},
        {{1080, 1920, 60}, "1080p Vertical 60 FPS"},
        {{640, 480, 30}, "640x480 30 FPS"},
        {{1440, 1080, 30}, "1080p 30 FPS"},
        {{2160, 3840, 24}, "4K Vertical 24 FPS"},
        {{2880, 1620, 30}, "3K 30 FPS"},
        {{2844, 1600, 30}, "3K 30 FPS"},
        {{2842, 1599, 30}, "1080p 30 FPS"},
        {{1280, 720, 60}, "720p 60 FPS"},
        {{1278, 719, 60}, "1278x719 60 FPS"},
        {{480, 640, 30}, "480x640 Vertical 30 FPS"},
        {{1080, 1080, 30}, "1080p 30 FPS"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.format.description(), c.label) << c.format.id();
    }
}

TEST(VideoFormatOptionTest, IdentifierIsSizeAndRate) {
    EXPECT_EQ((VideoFormatOption{1920, 1080, 30}).id(), "1920x1080@30");
    EXPECT_EQ((VideoFormatOption{1080, 1920, 60}).id(), "1080x1920@60");
}

TEST(MicrophoneOptionTest, DisplayNameNamesTheRoute) {
    EXPECT_EQ((MicrophoneOption{"usb-1", "DJI Mic", "Osmo Pocket 3"}).displayName(), "DJI Mic via Osmo Pocket 3");
    EXPECT_EQ((MicrophoneOption{"usb-1", "Osmo Pocket 3", std::nullopt}).displayName(), "Osmo Pocket 3");
}

TEST(ZoomRangeTest, ClampKeepsValuesInside) {
    const ZoomRange range{100, 400};
    EXPECT_EQ(range.clamp(50), 100);
    EXPECT_EQ(range.clamp(1000), 400);
    EXPECT_EQ(range.clamp(250), 250);
    EXPECT_TRUE(range.contains(400));
    EXPECT_FALSE(range.contains(401));
}

}  // namespace
}  // namespace hollowkit
