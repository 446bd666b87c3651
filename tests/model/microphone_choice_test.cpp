#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/testing/fake_audio_input.h"
#include "model_harness.h"

namespace lumenhollow::test {
namespace {

// The automatic flag is published before the camera hears the choice, so
// nothing that looks at the model in between sees the old choice as current.
TEST(MicrophoneChoiceTest, TheAutomaticFlagComesBeforeTheCameraCall) {
    struct Case {
        std::optional<std::string> id;
        bool automatic;
        std::string command;
    };
    for (const Case& c : std::vector<Case>{{"cam.dji", false, "selectMicrophone cam.dji"},
                                           {std::nullopt, true, "selectMicrophone automatic"}}) {
        SCOPED_TRACE(c.command);
        ModelHarness h;
        h.createAndStart();
        // Off first, so that every case publishes a change of the flag.
        if (c.automatic) h.model->chooseCameraMicrophone("cam.internal");
        std::vector<std::string> log;
        h.model->addObserver([&](Field field) {
            if (field != Field::automaticMicrophone) return;
            const std::vector<std::string> commands = h.camera()->commands();
            log.push_back("automatic " + std::to_string(h.state().automaticMicrophone) + " after " +
                          (commands.empty() ? std::string("nothing") : commands.back()));
        });
        const std::string before = h.camera()->commands().back();
        h.model->chooseCameraMicrophone(c.id);
        EXPECT_EQ(log, (std::vector<std::string>{"automatic " + std::to_string(c.automatic) + " after " + before}));
        EXPECT_EQ(h.camera()->commands().back(), c.command);
    }
}

TEST(MicrophoneChoiceTest, ALevelThatIsNotANumberIsNoLevelAndIsPublishedOnce) {
    ModelHarness h;
    h.createAndStart();
    int published = 0;
    h.model->addObserver([&](Field field) { published += field == Field::audioLevel; });
    h.camera()->setAudioLevel(-12.0F);
    h.model->startTimers();
    h.main.advance(CameraModel::kAudioLevelInterval);
    h.main.runUntilIdle();
    EXPECT_EQ(h.state().audioLevel, -12.0F);
    h.camera()->setAudioLevel(std::numeric_limits<float>::quiet_NaN());
    for (int tick = 0; tick < 5; ++tick) {
        h.main.advance(CameraModel::kAudioLevelInterval);
        h.main.runUntilIdle();
    }
    EXPECT_EQ(h.state().audioLevel, std::nullopt);
    EXPECT_EQ(published, 2);
    h.model->stopTimers();
}

TEST(MicrophoneChoiceTest, ARememberedInputThatIsGoneIsKeptButMissing) {
    const hollowkit::AudioInputOption laptop{"alsa_input.pci", "Built-in Audio"};
    struct Case {
        const char* name;
        std::string choice;
        bool missing;
    };
    const std::vector<Case> cases{
        {"the default", "", false}, {"off", "off", false}, {"present", laptop.id, false}, {"gone", "alsa_input.usb", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hollowkit::FakeAudioInputBackend inputs;
        inputs.setInputs({laptop});
        inputs.setDefaultInputId(laptop.id);
        ModelHarness h;
        CameraModelServices services = h.services();
        services.audioInputs = &inputs;
        h.model = CameraModel::create(services);
        h.model->setWirelessMicID(c.choice);
        h.model->refreshMacMicrophones();
        EXPECT_EQ(h.state().macMicrophones, (std::vector<hollowkit::AudioInputOption>{laptop}));
        EXPECT_EQ(h.model->defaultMacMicrophoneName(), laptop.name);
        EXPECT_EQ(h.model->isWirelessMicrophoneMissing(), c.missing);
        EXPECT_EQ(h.state().wirelessMicID, c.choice) << "never overwritten";
    }
    // Without a sound server there is nothing to list and no default.
    ModelHarness bare;
    bare.create();
    bare.model->refreshMacMicrophones();
    EXPECT_TRUE(bare.state().macMicrophones.empty());
    EXPECT_EQ(bare.model->defaultMacMicrophoneName(), std::nullopt);
}

}  // namespace
}  // namespace lumenhollow::test
