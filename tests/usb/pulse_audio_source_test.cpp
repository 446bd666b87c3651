#include "hollowkit/usb/linux/pulse_audio_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "hollowkit/media/sound_stamper.h"
#include "hollowkit/testing/private_pulse_server.h"
#include "hollowkit/usb/pcm_block_conversion.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

TEST(PulseAudioSourceTest, ReadsUsbVendorIdsAsSoundServersWriteThem) {
    EXPECT_EQ(parseUsbVendorId("2ca3"), uint16_t{0x2CA3});
    EXPECT_EQ(parseUsbVendorId("0x2CA3"), uint16_t{0x2CA3});
    EXPECT_EQ(parseUsbVendorId("8086"), uint16_t{0x8086});
    for (const char* bad : {"", "0x", "2ca3x", "12345", "pocket", "-1"}) {
        EXPECT_FALSE(parseUsbVendorId(bad)) << bad;
    }
}

// A sound server of the test's own: its default source plays a tone, and a
// second source stands in for the camera's sound with the maker's vendor id.
class PulseAudioSourceServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PrivatePulseServer::program()) {
            GTEST_SKIP() << "pulseaudio is not installed (Debian package pulseaudio); the sound backend is not "
                            "exercised";
        }
        const auto started = server_.start();
        if (!started) GTEST_SKIP() << "no private PulseAudio server could start here: " << started.error();
        const auto loaded = server_.pactl(
            {"load-module", "module-remap-source", "source_name=pocket_audio",
             std::string("master=") + PrivatePulseServer::kSineSource,
             "source_properties=\"device.vendor.id=2ca3 device.description='Osmo Pocket 3'\""});
        ASSERT_EQ(loaded.status, 0) << loaded.output;
        pocketModule_ = loaded.output;
        while (!pocketModule_.empty() && (pocketModule_.back() == '\n' || pocketModule_.back() == ' ')) {
            pocketModule_.pop_back();
        }
        PulseAudioSourceBackend::Options options;
        options.server = server_.address();
        backend_ = std::make_unique<PulseAudioSourceBackend>(options);
    }

    PrivatePulseServer server_;
    std::string pocketModule_;
    std::unique_ptr<PulseAudioSourceBackend> backend_;
};

TEST_F(PulseAudioSourceServerTest, ListsSourcesWithTheirVendorAndFindsTheDefault) {
    const auto sources = backend_->sources();
    const auto find = [&](const std::string& id) {
        return std::find_if(sources.begin(), sources.end(), [&](const AudioSourceInfo& s) { return s.id == id; });
    };
    ASSERT_NE(find("pocket_audio"), sources.end());
    EXPECT_EQ(find("pocket_audio")->name, "Osmo Pocket 3");
    EXPECT_EQ(find("pocket_audio")->usbVendorId, uint16_t{0x2CA3});
    ASSERT_NE(find(PrivatePulseServer::kToneSource), sources.end());
    EXPECT_FALSE(find(PrivatePulseServer::kToneSource)->usbVendorId);
    EXPECT_EQ(find(PrivatePulseServer::kNullSinkMonitor), sources.end());
    const auto fallback = backend_->defaultSource();
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->id, PrivatePulseServer::kToneSource);
}

TEST_F(PulseAudioSourceServerTest, CapturesInterleavedFloatsWithALevelAndTellsOfTheSourceGoing) {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<PcmBlock> blocks;
    size_t frames = 0;
    std::optional<std::string> failure;
    AudioSourceHandlers handlers;
    handlers.onBlock = [&](PcmBlock block) {
        std::lock_guard lock(mutex);
        frames += block.frameCount;
        blocks.push_back(std::move(block));
        changed.notify_all();
    };
    handlers.onFailure = [&](const std::string& why) {
        std::lock_guard lock(mutex);
        failure = why;
        changed.notify_all();
    };
    auto capture = backend_->open(PrivatePulseServer::kToneSource, handlers);
    ASSERT_TRUE(capture) << capture.error();
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 15s, [&] { return frames >= 24000; }));
        const PcmFormat& format = blocks.front().format;
        EXPECT_TRUE(format.isFloat);
        EXPECT_EQ(format.bitsPerChannel, 32);
        EXPECT_FALSE(format.nonInterleaved);
        EXPECT_EQ(format.sampleRate, 48000);
        // Each block starts where the one before ended, or later: never
        // back, never over it.
        for (size_t i = 1; i < blocks.size(); ++i) {
            EXPECT_GE(blocks[i].pts, blocks[i - 1].pts + framesToDuration(blocks[i - 1].frameCount, 48000))
                << "block " << i;
        }
        const auto level = averagePowerDb(audioChunkFromPcm(blocks.back()));
        ASSERT_TRUE(level);
        EXPECT_GT(*level, -40.0F);  // a tone, not silence
    }

    AudioSourceHandlers watch;
    watch.onFailure = handlers.onFailure;
    auto watched = backend_->open("pocket_audio", watch);
    ASSERT_TRUE(watched);
    const auto unloaded = server_.pactl({"unload-module", pocketModule_});
    ASSERT_EQ(unloaded.status, 0) << unloaded.output;
    std::unique_lock lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, 15s, [&] { return failure.has_value(); }));
}

TEST_F(PulseAudioSourceServerTest, OpeningASourceThatIsNotThereFails) {
    const auto opened = backend_->open("no_such_source", {});
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error(), "no source named no_such_source");
}

}  // namespace
}  // namespace hollowkit
