#include "hollowkit/media/audio_chunk.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace hollowkit {
namespace {

const TimePoint kChunkT0 = TimePoint(std::chrono::seconds(5));

TEST(AudioChunkTest, CopiesInterleavedSamplesAndCountsFrames) {
    std::vector<int16_t> stereo = {-32768, 0, 100, -100, 7, 8};
    const AudioChunk chunk = AudioChunk::copyS16(stereo, 48000, 2, kChunkT0);
    stereo.assign(stereo.size(), 1);

    ASSERT_FALSE(chunk.isNull());
    EXPECT_EQ(chunk.sampleFormat(), SampleFormat::s16);
    EXPECT_EQ(chunk.frameCount(), 3U);
    EXPECT_EQ(chunk.channels(), 2);
    EXPECT_EQ(std::vector<int16_t>(chunk.s16().begin(), chunk.s16().end()),
              (std::vector<int16_t>{-32768, 0, 100, -100, 7, 8}));
    EXPECT_TRUE(chunk.f32().empty());  // the other format is not converted on the fly
}

TEST(AudioChunkTest, RefusesShapesThatDoNotFit) {
    const std::vector<float> five(5, 0.5F);
    EXPECT_TRUE(AudioChunk::copyF32(five, 48000, 2, kChunkT0).isNull());  // half a frame
    EXPECT_TRUE(AudioChunk::copyF32(five, 48000, 0, kChunkT0).isNull());
    EXPECT_TRUE(AudioChunk::copyF32(five, 0, 1, kChunkT0).isNull());
    EXPECT_TRUE(AudioChunk::copyF32(five, AudioChunk::kMaxSampleRate + 1, 1, kChunkT0).isNull());
    EXPECT_TRUE(AudioChunk::copyF32(five, 48000, AudioChunk::kMaxChannels + 1, kChunkT0).isNull());
    EXPECT_FALSE(AudioChunk::copyF32(five, 48000, 5, kChunkT0).isNull());
    EXPECT_TRUE(WritableAudioChunk::allocate(SampleFormat::none, 48000, 1, 10).isNull());
}

TEST(AudioChunkTest, DurationIsExactForCommonRates) {
    struct Case {
        int rate;
        size_t frames;
        std::chrono::nanoseconds expected;
    };
    const Case cases[] = {
        {48000, 48000, std::chrono::seconds(1)},
        {44100, 441, std::chrono::milliseconds(10)},
        {48000, 1024, std::chrono::nanoseconds(21'333'333)},
        {16000, 0, std::chrono::nanoseconds(0)},
    };
    for (const Case& c : cases) {
        WritableAudioChunk writable = WritableAudioChunk::allocate(SampleFormat::f32, c.rate, 1, c.frames);
        EXPECT_EQ(std::move(writable).freeze(kChunkT0).duration(), c.expected) << c.rate << " Hz, " << c.frames;
    }
}

TEST(AudioChunkTest, WritableChunkFreezesIntoASharedHandle) {
    WritableAudioChunk writable = WritableAudioChunk::allocate(SampleFormat::f32, 48000, 2, 4);
    ASSERT_EQ(writable.f32().size(), 8U);
    EXPECT_TRUE(writable.s16().empty());
    writable.f32()[7] = -1.0F;

    const AudioChunk chunk = std::move(writable).freeze(kChunkT0);
    const AudioChunk later = chunk.withPts(kChunkT0 + std::chrono::milliseconds(10));

    EXPECT_EQ(chunk.f32()[7], -1.0F);
    EXPECT_EQ(chunk.f32()[0], 0.0F);
    EXPECT_TRUE(later.sharesSamplesWith(chunk));
    EXPECT_EQ(later.f32().data(), chunk.f32().data());
    EXPECT_EQ(later.pts() - chunk.pts(), std::chrono::milliseconds(10));
}

}  // namespace
}  // namespace hollowkit
