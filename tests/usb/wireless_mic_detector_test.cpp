#include "hollowkit/usb/wireless_mic_detector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "hollowkit/testing/fake_audio_source.h"

namespace hollowkit {
namespace {

using Source = WirelessMicDetector::Source;

constexpr float kLoud = 0.5F;
constexpr float kQuiet = 0.0005F;

// `frames` stereo frames: the first `loud` loud, the first `differing` with
// the right channel changed; all others identical.
PcmBlock window(size_t frames, size_t loud, size_t differing, double rate = 48000) {
    std::vector<float> left(frames, kQuiet);
    for (size_t i = 0; i < loud && i < frames; ++i) left[i] = kLoud;
    std::vector<float> right = left;
    for (size_t i = 0; i < differing && i < frames; ++i) right[i] = -left[i];
    return FakeAudioSourceBackend::stereoFloat(left, right, rate);
}

TEST(WirelessMicDetectorTest, DecidesOnceAWindowOfOneSecondIsFull) {
    struct Case {
        const char* name;
        size_t loud;
        size_t differing;
        std::optional<Source> expected;
    };
    // Window 48000: quiet when loud * 10 < 48000; ambiguous when
    // differing * 20 < 48000.
    const Case cases[] = {
        {"silence", 0, 0, std::nullopt},
        {"one frame too few loud", 4799, 0, std::nullopt},
        {"a tenth loud, identical", 4800, 0, Source::wirelessMic},
        {"4% differ", 48000, 1920, std::nullopt},
        {"5% differ", 48000, 2400, Source::cameraMics},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WirelessMicDetector detector;
        EXPECT_EQ(detector.analyze(window(48000, c.loud, c.differing)), c.expected.has_value());
        EXPECT_EQ(detector.source, c.expected);
        EXPECT_EQ(detector.frames, 0U);
        EXPECT_EQ(detector.loudFrames, 0U);
        EXPECT_EQ(detector.differingFrames, 0U);
    }
}

TEST(WirelessMicDetectorTest, ReportsOnlyChangesAndKeepsTheDecisionThroughQuietWindows) {
    WirelessMicDetector detector;
    EXPECT_TRUE(detector.analyze(window(48000, 48000, 0)));
    EXPECT_FALSE(detector.analyze(window(48000, 48000, 0)));
    EXPECT_FALSE(detector.analyze(window(48000, 0, 0)));
    EXPECT_EQ(detector.source, Source::wirelessMic);
    EXPECT_TRUE(detector.analyze(window(48000, 48000, 48000)));
    EXPECT_EQ(detector.source, Source::cameraMics);
}

TEST(WirelessMicDetectorTest, Window44100CountsWholeBuffersAndJudgesEachTestAgainstItsOwnCount) {
    // 87 buffers of 512 frames: 44544 frames. Loudness is judged against
    // the window (4410 * 10 = 44100 is not below it), differing frames
    // against the frames counted (2227 * 20 = 44540 is below 44544).
    struct Case {
        size_t loud;
        size_t differing;
        std::optional<Source> expected;
    };
    for (const Case& c : {Case{4410, 2227, std::nullopt}, Case{4410, 2228, Source::cameraMics},
                          Case{4409, 44544, std::nullopt}}) {
        SCOPED_TRACE(testing::Message() << c.loud << " loud, " << c.differing << " differing");
        const PcmBlock all = window(87 * 512, c.loud, c.differing, 44100);
        const auto& bytes = all.buffers[0];
        WirelessMicDetector detector;
        bool reported = false;
        for (size_t b = 0; b < 87; ++b) {
            PcmBlock block = all;
            block.frameCount = 512;
            block.buffers[0] = Bytes(bytes.begin() + b * 512 * 8, bytes.begin() + (b + 1) * 512 * 8);
            const bool changed = detector.analyze(block);
            if (b < 86) {
                ASSERT_FALSE(changed);
                ASSERT_EQ(detector.frames, (b + 1) * 512);
            }
            reported = changed;
        }
        EXPECT_EQ(detector.windowFrames, 44100U);
        EXPECT_EQ(reported, c.expected.has_value());
        EXPECT_EQ(detector.source, c.expected);
    }
}

TEST(WirelessMicDetectorTest, SixteenBitSamplesUseTheTruncatedThresholdAndTheMagnitudeOfTheLowest) {
    WirelessMicDetector detector;
    // Threshold trunc(0.002 * 32767) = 65.
    ASSERT_FALSE(detector.analyze(FakeAudioSourceBackend::stereoInt16({64, 65, -65, -32768}, {64, 0, -64, 0})));
    EXPECT_EQ(detector.frames, 4U);
    EXPECT_EQ(detector.loudFrames, 3U);
    EXPECT_EQ(detector.differingFrames, 3U);
}

TEST(WirelessMicDetectorTest, ReadsChannelsFromSeparateBuffersWhenNotInterleaved) {
    std::vector<float> left(48000, kLoud);
    std::vector<float> right(48000, kLoud);
    PcmBlock block;
    block.format = PcmFormat{true, 48000, 2, 32, true, true};
    block.frameCount = 48000;
    for (const auto* channel : {&left, &right}) {
        Bytes bytes(channel->size() * sizeof(float));
        std::memcpy(bytes.data(), channel->data(), bytes.size());
        block.buffers.push_back(std::move(bytes));
    }
    WirelessMicDetector identical;
    EXPECT_TRUE(identical.analyze(block));
    EXPECT_EQ(identical.source, Source::wirelessMic);

    block.buffers.pop_back();
    WirelessMicDetector missingRight;
    EXPECT_FALSE(missingRight.analyze(block));
    EXPECT_EQ(missingRight.frames, 0U);
}

TEST(WirelessMicDetectorTest, IgnoresStreamsItCannotReadWithoutCountingAnything) {
    const PcmBlock good = window(4800, 4800, 0);
    struct Case {
        const char* name;
        PcmBlock block;
    };
    std::vector<Case> cases;
    const auto variant = [&](const char* name, auto change) {
        PcmBlock block = good;
        change(block);
        cases.push_back({name, std::move(block)});
    };
    variant("mono", [](PcmBlock& b) { b.format.channels = 1; });
    variant("three channels", [](PcmBlock& b) { b.format.channels = 3; });
    variant("24-bit", [](PcmBlock& b) { b.format.bitsPerChannel = 24; b.format.isFloat = false; });
    variant("64-bit float", [](PcmBlock& b) { b.format.bitsPerChannel = 64; });
    variant("not linear PCM", [](PcmBlock& b) { b.format.linearPcm = false; });
    variant("NaN rate", [](PcmBlock& b) { b.format.sampleRate = std::numeric_limits<double>::quiet_NaN(); });
    variant("infinite rate", [](PcmBlock& b) { b.format.sampleRate = std::numeric_limits<double>::infinity(); });
    variant("zero rate", [](PcmBlock& b) { b.format.sampleRate = 0; });
    variant("rate beyond range", [](PcmBlock& b) { b.format.sampleRate = 1e12; });
    variant("no buffer", [](PcmBlock& b) { b.buffers.clear(); });
    variant("empty buffer", [](PcmBlock& b) { b.buffers[0].clear(); });
    variant("less than one frame", [](PcmBlock& b) { b.buffers[0].resize(7); });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WirelessMicDetector detector;
        EXPECT_FALSE(detector.analyze(c.block));
        EXPECT_EQ(detector.frames, 0U);
        EXPECT_EQ(detector.loudFrames, 0U);
        EXPECT_EQ(detector.windowFrames, WirelessMicDetector::kDefaultWindowFrames);
    }
}

TEST(WirelessMicDetectorTest, CountsAShortBufferOnlyAsFarAsItsBytesGo) {
    PcmBlock block = window(100, 100, 100);
    block.frameCount = 1'000'000;  // claims far more than the 100 frames it holds
    WirelessMicDetector detector;
    EXPECT_FALSE(detector.analyze(block));
    EXPECT_EQ(detector.frames, 100U);
    EXPECT_EQ(detector.loudFrames, 100U);
    EXPECT_EQ(detector.differingFrames, 100U);
}

TEST(WirelessMicDetectorTest, NaNSamplesCountAsDiffering) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    WirelessMicDetector detector;
    EXPECT_FALSE(detector.analyze(FakeAudioSourceBackend::stereoFloat({nan, kLoud}, {nan, kLoud})));
    EXPECT_EQ(detector.differingFrames, 1U);
    EXPECT_EQ(detector.loudFrames, 1U);
}

}  // namespace
}  // namespace hollowkit
