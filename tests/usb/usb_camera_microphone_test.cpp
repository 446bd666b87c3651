#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "hollowkit/usb/usb_camera.h"
#include "usb_camera_rig.h"

namespace hollowkit {
namespace {

using testsupport::kBuiltInMic;
using testsupport::kDjiMic;
using testsupport::kPocketAudio;
using testsupport::UsbCameraRig;
using Ids = std::vector<std::string>;

PcmBlock steady(size_t frames, float left, float right) {
    return FakeAudioSourceBackend::stereoFloat(std::vector<float>(frames, left), std::vector<float>(frames, right));
}

// `count` blocks, each handled before the next arrives, as a live audio
// queue keeps up.
void play(UsbCameraRig& rig, const PcmBlock& block, int count) {
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(rig.audio.emit(block));
        rig.executor.runUntilIdle();
    }
}

MicrophoneOption plain(const AudioSourceInfo& source) {
    return {source.id, source.name, std::nullopt};
}

TEST(UsbCameraMicrophoneTest, PrefersADjiMicThenTheCameraThenTheDefault) {
    struct Case {
        std::vector<AudioSourceInfo> sources;
        AudioSourceInfo expected;
    };
    const Case cases[] = {
        {{kBuiltInMic, kPocketAudio, kDjiMic}, kDjiMic},
        {{kBuiltInMic, kPocketAudio}, kPocketAudio},
        {{kBuiltInMic}, kBuiltInMic},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.name);
        UsbCameraRig rig;
        rig.audio.setSources(c.sources);
        USBCamera& camera = rig.open();
        EXPECT_EQ(rig.audio.openedIds(), Ids{c.expected.id});
        EXPECT_EQ(camera.activeMicrophone(), plain(c.expected));
        ASSERT_EQ(camera.microphones().size(), c.sources.size());
        EXPECT_EQ(camera.microphones().front(), plain(c.sources.front()));
        EXPECT_TRUE(rig.log.contains("Microphone: " + c.expected.name + " (automatic)"));
    }
}

TEST(UsbCameraMicrophoneTest, TheUsersChoiceOutlivesItsDeviceAndReturnsWithIt) {
    UsbCameraRig rig;
    rig.audio.setSources({kBuiltInMic, kPocketAudio, kDjiMic});
    USBCamera& camera = rig.open();
    camera.selectMicrophone(kPocketAudio.id);
    rig.executor.runUntilIdle();
    EXPECT_EQ(camera.activeMicrophone(), plain(kPocketAudio));

    rig.audio.setSources({kBuiltInMic, kDjiMic});
    ASSERT_TRUE(rig.monitor.announce({DeviceChange::Kind::audio, false, "Osmo Pocket 3"}));
    rig.executor.runUntilIdle();
    EXPECT_EQ(camera.activeMicrophone(), plain(kDjiMic));

    rig.audio.setSources({kBuiltInMic, kPocketAudio, kDjiMic});
    rig.monitor.announce({DeviceChange::Kind::audio, true, "Osmo Pocket 3"});
    rig.executor.runUntilIdle();
    EXPECT_EQ(camera.activeMicrophone(), plain(kPocketAudio));

    EXPECT_EQ(rig.audio.openedIds(), (Ids{kDjiMic.id, kPocketAudio.id, kDjiMic.id, kPocketAudio.id}));
    // Only the first choice was automatic; the stand-in keeps the user's id.
    const std::vector<std::string> expectedLog{
        "Microphone: DJI MIC 2 (automatic)", "Microphone: Osmo Pocket 3", "Audio device disconnected: Osmo Pocket 3",
        "Microphone: DJI MIC 2",             "Audio device connected: Osmo Pocket 3", "Microphone: Osmo Pocket 3"};
    std::vector<std::string> lines;
    for (const std::string& line : rig.log.lines()) {
        if (line.rfind("Microphone", 0) == 0 || line.rfind("Audio device", 0) == 0) lines.push_back(line);
    }
    EXPECT_EQ(lines, expectedLog);
    EXPECT_EQ(rig.audio.openCaptureCount(), 1);
}

TEST(UsbCameraMicrophoneTest, DestroyingOneCameraLeavesAnotherOnTheSameMonitorWatching) {
    UsbCameraRig rig;
    rig.audio.setSources({kBuiltInMic, kPocketAudio});
    rig.open(std::nullopt);
    std::unique_ptr<USBCamera> older = std::move(rig.camera);
    USBCamera& newer = rig.open(std::nullopt);
    EXPECT_EQ(newer.activeMicrophone(), plain(kPocketAudio));
    EXPECT_EQ(rig.monitor.watchers(), 2);

    // Gone without a stop: its own watch ends, the newer camera's stays.
    older.reset();
    rig.executor.runUntilIdle();
    EXPECT_EQ(rig.monitor.watchers(), 1);

    rig.audio.setSources({kBuiltInMic});
    ASSERT_TRUE(rig.monitor.announce({DeviceChange::Kind::audio, false, "Osmo Pocket 3"}));
    rig.executor.runUntilIdle();
    EXPECT_EQ(newer.activeMicrophone(), plain(kBuiltInMic));
}

TEST(UsbCameraMicrophoneTest, AVideoDeviceComingOrGoingChoosesNoMicrophone) {
    UsbCameraRig rig;
    rig.open();
    const size_t events = rig.events.size();
    rig.monitor.announce({DeviceChange::Kind::video, true, "Osmo Pocket 3"});
    rig.executor.runUntilIdle();
    EXPECT_EQ(rig.events.size(), events);
    EXPECT_EQ(rig.audio.openedIds().size(), 1U);
    EXPECT_FALSE(rig.log.contains("Audio device"));
}

TEST(UsbCameraMicrophoneTest, TheCameraSoundIsRelabelledWhenAWirelessMicIsHeard) {
    UsbCameraRig rig;
    USBCamera& camera = rig.open();
    ASSERT_EQ(camera.activeMicrophone(), plain(kPocketAudio));
    const MicrophoneOption relabelled{kPocketAudio.id, "DJI Mic", kPocketAudio.name};

    // One second of one signal on both channels.
    play(rig, steady(480, 0.3F, 0.3F), 100);
    EXPECT_EQ(camera.activeMicrophone(), relabelled);
    EXPECT_EQ(camera.microphones().at(1), relabelled);
    EXPECT_EQ(camera.activeMicrophone()->displayName(), "DJI Mic via Osmo Pocket 3");
    EXPECT_TRUE(rig.log.contains("Microphone: DJI Mic heard through Osmo Pocket 3"));

    // Then the camera's own pair of microphones.
    play(rig, steady(480, 0.3F, -0.2F), 100);
    EXPECT_EQ(camera.activeMicrophone(), plain(kPocketAudio));
    EXPECT_TRUE(rig.log.contains("Microphone: Osmo Pocket 3 built-in mics"));
}

TEST(UsbCameraMicrophoneTest, ChoosingTheCurrentInputAgainKeepsItAndItsDetector) {
    UsbCameraRig rig;
    USBCamera& camera = rig.open();
    play(rig, steady(480, 0.3F, 0.3F), 50);
    const int changes = rig.count(CameraEvent::Kind::devicesChanged);
    camera.selectMicrophone(std::nullopt);
    rig.executor.runUntilIdle();
    EXPECT_EQ(rig.count(CameraEvent::Kind::devicesChanged), changes + 1);  // re-published all the same
    EXPECT_EQ(rig.audio.openedIds().size(), 1U);
    // The second half of the window completes the half counted before.
    play(rig, steady(480, 0.3F, 0.3F), 50);
    EXPECT_EQ(camera.activeMicrophone()->name, "DJI Mic");
}

TEST(UsbCameraMicrophoneTest, WithoutSoundAccessNothingIsAttached) {
    UsbCameraRig rig;
    rig.audio.setAccess(false);
    USBCamera& camera = rig.open();
    EXPECT_TRUE(rig.audio.openedIds().empty());
    EXPECT_TRUE(camera.microphones().empty());
    EXPECT_FALSE(camera.activeMicrophone());
    EXPECT_FALSE(camera.audioLevel());
    EXPECT_TRUE(rig.device.isStreaming());  // the pictures go on
}

TEST(UsbCameraMicrophoneTest, HandsSoundOnAndMeasuresItsLevel) {
    UsbCameraRig rig;
    USBCamera& camera = rig.open();
    EXPECT_FALSE(camera.audioLevel());  // nothing heard yet
    rig.audio.emit(steady(480, 0.5F, 0.1F));
    rig.executor.runUntilIdle();
    ASSERT_EQ(rig.chunks.size(), 1U);
    EXPECT_EQ(rig.chunks[0].frameCount(), 480U);
    EXPECT_EQ(rig.chunks[0].channels(), 2);
    ASSERT_TRUE(camera.audioLevel());
    EXPECT_NEAR(*camera.audioLevel(), 20 * std::log10(0.5), 0.01);

    rig.audio.emit(steady(480, 0, 0));
    rig.executor.runUntilIdle();
    EXPECT_EQ(camera.audioLevel(), -160.0F);
}

TEST(UsbCameraMicrophoneTest, SoundPilingUpBehindAStalledQueueIsDropped) {
    UsbCameraRig rig;
    rig.open();
    for (int i = 0; i < 100; ++i) rig.audio.emit(steady(480, 0.3F, 0.3F));
    rig.executor.runUntilIdle();
    EXPECT_EQ(rig.chunks.size(), size_t{USBCamera::kMaxPendingAudioBlocks});
}

TEST(UsbCameraMicrophoneTest, MalformedSoundIsDroppedOrCutToWhatItHolds) {
    UsbCameraRig rig;
    USBCamera& camera = rig.open();
    PcmBlock shortBlock = steady(10, 0.5F, 0.5F);
    shortBlock.frameCount = 100000;
    PcmBlock nanRate = steady(480, 0.5F, 0.5F);
    nanRate.format.sampleRate = std::numeric_limits<double>::quiet_NaN();
    PcmBlock deep = steady(480, 0.5F, 0.5F);
    deep.format.bitsPerChannel = 24;
    PcmBlock empty = steady(480, 0.5F, 0.5F);
    empty.buffers.clear();
    for (PcmBlock* block : {&shortBlock, &nanRate, &deep, &empty}) rig.audio.emit(*block);
    rig.executor.runUntilIdle();
    ASSERT_EQ(rig.chunks.size(), 1U);
    EXPECT_EQ(rig.chunks[0].frameCount(), 10U);
    EXPECT_NEAR(*camera.audioLevel(), 20 * std::log10(0.5), 0.01);
    EXPECT_EQ(rig.count(CameraEvent::Kind::failed), 0);
}

TEST(UsbCameraMicrophoneTest, ASourceThatFailsIsDroppedNotReopened) {
    UsbCameraRig rig;
    USBCamera& camera = rig.open();
    ASSERT_TRUE(rig.audio.fail("capture: Entity killed"));
    rig.executor.runUntilIdle();
    EXPECT_FALSE(camera.activeMicrophone());
    EXPECT_FALSE(camera.audioLevel());
    EXPECT_EQ(camera.microphones().size(), 2U);
    EXPECT_TRUE(rig.log.contains("Microphone stopped: Osmo Pocket 3: capture: Entity killed"));
    EXPECT_EQ(rig.audio.openedIds().size(), 1U);

    // A source that cannot be opened leaves no input either.
    rig.audio.setOpenFailure(kPocketAudio.id, "busy");
    camera.selectMicrophone(kPocketAudio.id);
    rig.executor.runUntilIdle();
    EXPECT_FALSE(camera.activeMicrophone());
    EXPECT_EQ(rig.audio.openCaptureCount(), 0);
}

}  // namespace
}  // namespace hollowkit
