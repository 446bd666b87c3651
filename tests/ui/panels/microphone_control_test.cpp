#include "lumenhollow/ui/panels/microphone_control.h"

#include <QAction>
#include <QMenu>
#include <QVariantAnimation>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../../model/model_harness.h"
#include "hollowkit/testing/fake_audio_input.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/panels/level_meter.h"
#include "lumenhollow/ui/panels/microphone_menu_button.h"

namespace lumenhollow::test {
namespace {

const hollowkit::MicrophoneOption kInternalMic{"cam.internal", "Internal Mic", std::nullopt};
const hollowkit::MicrophoneOption kReceiver{"cam.dji", "DJI Mic 2", std::string("USB-C")};
const hollowkit::AudioInputOption kLaptopInput{"alsa_input.pci", "Built-in Audio"};
const hollowkit::AudioInputOption kDeskInput{"alsa_input.usb", "Desk Microphone"};

// The control over a model whose camera is on USB or Wi-Fi, with this
// computer's inputs behind the fake sound server.
struct ControlHarness : ModelHarness {
    hollowkit::FakeAudioInputBackend inputs;
    std::unique_ptr<ModelSignals> signals;
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    MicrophoneControl* control = nullptr;

    explicit ControlHarness(bool usb) {
        cameras.setPocketConnected(usb);
        inputs.setInputs({kLaptopInput});
        inputs.setDefaultInputId(kLaptopInput.id);
        CameraModelServices withInputs = services();
        withInputs.audioInputs = &inputs;
        model = CameraModel::create(withInputs);
        model->camera().start();
        main.runUntilIdle();
        signals = std::make_unique<ModelSignals>(model);
        control = new MicrophoneControl(*signals, false, window.get());
        window->show();
    }
    ~ControlHarness() {
        window.reset();
        signals.reset();
    }

    void offerMicrophones(std::optional<hollowkit::MicrophoneOption> active) {
        camera()->setDevices({kInternalMic, kReceiver}, std::move(active), {}, std::nullopt);
        emit(hollowkit::CameraEvent::devicesChanged());
    }
    QMenu& menu() const { return *control->menuButton().menu(); }
    QAction* row(const QString& title) const {
        for (QAction* action : menu().actions()) {
            if (action->text() == title) return action;
        }
        return nullptr;
    }
};

TEST(MicrophoneControlTest, TheRouteChoosesTheFace) {
    struct Case {
        bool usb;
        std::optional<hollowkit::MicrophoneOption> active;
        bool wireless;
        bool meter;
        std::string name;
    };
    const std::vector<Case> cases{
        {true, std::nullopt, false, false, "No microphone"},
        {true, kReceiver, false, true, "DJI Mic 2"},
        {false, kReceiver, true, false, "Built-in Audio"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ControlHarness h(c.usb);
        h.offerMicrophones(c.active);
        EXPECT_EQ(h.control->isWirelessFace(), c.wireless);
        EXPECT_EQ(h.control->meter().isVisible(), c.meter);
        EXPECT_EQ(h.control->menuButton().shownName().toStdString(), c.name);
    }
}

// Short of room the control gives up, in this order, the full face (the
// badge and the long name), the level meter and then more of the name; with
// room again it comes back whole.
TEST(MicrophoneControlTest, ShortOfRoomTheFaceNarrowsStepByStep) {
    ControlHarness h(true);
    h.offerMicrophones(kReceiver);
    const int full = h.control->sizeHint().width();
    int narrow = 0;  // the narrow face with the meter
    double narrowName = 0;
    struct Step {
        const char* name;
        std::function<int()> room;
        bool meter;
        bool shortened;  // the name shorter than the narrow face has it
    };
    const std::vector<Step> steps{
        {"room enough: the full face", [&] { return full; }, true, false},
        {"one pixel short: the narrow face with the meter", [&] { return full - 1; }, true, false},
        {"no room for the meter", [&] { return narrow - 1; }, false, false},
        {"less still: a shorter name", [] { return 70; }, false, true},
        {"room again: whole", [] { return 1000; }, true, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const int room = step.room();
        h.control->setRoom(room);
        EXPECT_LE(h.control->sizeHint().width(), room);
        EXPECT_EQ(h.control->meter().isVisibleTo(h.control), step.meter);
        if (narrow == 0 && room < full) {
            narrow = h.control->sizeHint().width();
            narrowName = h.control->menuButton().nameWidth();
            EXPECT_LT(narrow, full);
        }
        EXPECT_EQ(h.control->menuButton().nameWidth() < narrowName, step.shortened);
    }
    EXPECT_EQ(h.control->sizeHint().width(), full);
}

TEST(MicrophoneControlTest, RowsReachTheModel) {
    ControlHarness h(true);
    h.offerMicrophones(kReceiver);
    ASSERT_NE(h.row(QStringLiteral("Internal Mic")), nullptr);
    h.row(QStringLiteral("Internal Mic"))->trigger();
    EXPECT_FALSE(h.state().automaticMicrophone);
    EXPECT_EQ(h.camera()->commands().back(), "selectMicrophone cam.internal");
    h.row(QStringLiteral("Automatic (DJI Mic first)"))->trigger();
    EXPECT_TRUE(h.state().automaticMicrophone);
    EXPECT_EQ(h.camera()->commands().back(), "selectMicrophone automatic");
}

TEST(MicrophoneControlTest, TheMenuIsRebuiltOnlyWhenItsContentChanges) {
    ControlHarness h(true);
    h.offerMicrophones(kReceiver);
    const QList<QAction*> before = h.menu().actions();
    // Sound, battery and the like leave the menu's rows as they are.
    h.camera()->setAudioLevel(-20.0F);
    h.model->startTimers();
    h.main.advance(CameraModel::kAudioLevelInterval);
    h.main.runUntilIdle();
    ASSERT_EQ(h.state().audioLevel, -20.0F);
    h.emit(hollowkit::CameraEvent::battery(hollowkit::BatteryStatus{50, false}));
    EXPECT_EQ(h.menu().actions(), before);
    EXPECT_EQ(h.control->meter().litCount(), 7);
    // A choice does rebuild it.
    h.row(QStringLiteral("Internal Mic"))->trigger();
    EXPECT_NE(h.menu().actions(), before);
    h.model->stopTimers();
}

TEST(MicrophoneControlTest, TheWirelessFaceReadsTheInputsWhenItComesOnScreen) {
    ControlHarness h(false);
    EXPECT_EQ(h.state().macMicrophones, (std::vector<hollowkit::AudioInputOption>{kLaptopInput}));
    EXPECT_NE(h.row(QStringLiteral("Default Microphone (Built-in Audio)")), nullptr);
    // Plugged in while on screen: listed only the next time the face comes.
    h.inputs.setInputs({kLaptopInput, kDeskInput});
    h.model->postNotice("anything");
    EXPECT_EQ(h.row(QStringLiteral("Desk Microphone")), nullptr);
    h.control->hide();
    h.control->show();
    ASSERT_NE(h.row(QStringLiteral("Desk Microphone")), nullptr);
    h.row(QStringLiteral("Desk Microphone"))->trigger();
    EXPECT_EQ(h.state().wirelessMicID, kDeskInput.id);
    EXPECT_EQ(h.settings.value("wirelessMicrophone"), SettingsValue(kDeskInput.id));
}

TEST(MicrophoneControlTest, UseUsbSwitchesOrShowsTheGuide) {
    struct Case {
        bool plugged;
        ConnectionMode route;
        bool guide;
    };
    for (const Case& c : std::vector<Case>{{true, ConnectionMode::usb, false}, {false, ConnectionMode::wireless, true}}) {
        SCOPED_TRACE(c.plugged);
        ControlHarness h(false);
        h.cameras.setPocketConnected(c.plugged);
        h.row(QStringLiteral("Use USB-C for the DJI Mic"))->trigger();
        h.main.runUntilIdle();
        EXPECT_EQ(h.state().connection, c.route);
        EXPECT_EQ(h.state().showUSBGuide, c.guide);
    }
}

TEST(MicrophoneControlTest, TheMeterAnimatesOnlyWhenTheLitCountChanges) {
    QWidget parent;
    LevelMeter meter(12, &parent);
    ui::setAnimationsEnabled(true);
    meter.setLevel(-25.0F);
    EXPECT_EQ(meter.litCount(), 6);
    EXPECT_EQ(meter.findChildren<QVariantAnimation*>().size(), 1);
    auto* first = meter.findChild<QVariantAnimation*>();
    // A level that lights the same six segments starts nothing new.
    meter.setLevel(-24.0F);
    EXPECT_EQ(meter.findChild<QVariantAnimation*>(), first);
    meter.setLevel(-10.0F);
    EXPECT_EQ(meter.litCount(), 10);
    ui::setAnimationsEnabled(false);
    EXPECT_EQ(meter.accessibleName(), QStringLiteral("Audio level"));
    EXPECT_EQ(meter.sizeHint(), QSize(12 * 3 + 11 * 2, 10));
}

}  // namespace
}  // namespace lumenhollow::test
