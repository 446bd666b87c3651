#include "lumenhollow/ui/panels/camera_settings_panel.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMenu>
#include <QSlider>
#include <QTest>
#include <QWindow>

#include "../../model/model_harness.h"
#include "hollowkit/camera/camera_command.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/pop_up_button.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/kit/switch_button.h"
#include "lumenhollow/ui/kit/text_button.h"
#include "lumenhollow/ui/window/camera_settings_button.h"

namespace lumenhollow {
namespace {

namespace hk = hollowkit;
using Setting = hk::CameraSetting;

// A model over a wireless-like camera that takes settings, and the button
// with its popover in a shown window.
struct SettingsRig : test::ModelHarness {
    std::unique_ptr<ModelSignals> signals;
    std::unique_ptr<QWidget> window;
    CameraSettingsButton* button = nullptr;

    SettingsRig() {
        cameras.setPocketConnected(false);
        createAndStart();
        signals = std::make_unique<ModelSignals>(model);
        window = std::make_unique<QWidget>();
        window->resize(600, 500);
        button = new CameraSettingsButton(*signals, window.get());
        button->move(200, 400);
        window->show();
    }
    ~SettingsRig() {
        window.reset();
        signals.reset();
    }
    CameraSettingsPanel* open() {
        if (!state().showCameraSettings) QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        return qobject_cast<CameraSettingsPanel*>(button->popover()->content());
    }
    template <typename W>
    W* find(const char* name) {
        return open()->findChild<W*>(QString::fromUtf8(name));
    }
    // A press where `widget` shows in its top-level window.
    static void press(QWidget* widget) {
        QWidget* top = widget->window();
        QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, widget->mapTo(top, widget->rect().center()));
    }
    // Opens the picker by a press and returns its menu, shown.
    QMenu* openPicker(const char* picker) {
        auto* face = find<ui::PopUpButton>(picker);
        press(face);
        QMenu* menu = face->menu();
        return menu->isVisible() ? menu : nullptr;
    }
    // Chooses `row` of the picker as a person does: a press on the picker,
    // then a click on the row in its menu.
    void pick(const char* picker, int row) {
        QMenu* menu = openPicker(picker);
        ASSERT_NE(menu, nullptr) << picker;
        const QRect at = menu->actionGeometry(menu->actions().at(row));
        QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {}, at.center());
        EXPECT_FALSE(menu->isVisible()) << picker;
        EXPECT_TRUE(state().showCameraSettings) << "the popover stays open under the menu";
    }
    void pressEV(const char* name) { press(find<ui::TextButton>(name)); }
    void dragKelvin(std::initializer_list<int> kelvins) {
        auto* slider = find<QSlider>("kelvin");
        slider->setSliderDown(true);
        for (int kelvin : kelvins) slider->setValue(kelvin / 100);
        slider->setSliderDown(false);
    }
    QString kelvinText() { return find<QLabel>("kelvinLabel")->text(); }
};

// Each row of user steps, from a fresh panel: the settings the camera got
// (the fake camera's log, in order) and the pill's title afterwards.
TEST(CameraSettingsPanel, StepsSendExactlyTheirSettings) {
    const struct {
        const char* name;
        std::function<void(SettingsRig&)> steps;
        std::vector<Setting> sent;
        QString title;
    } cases[] = {
        {"60 FPS first", [](SettingsRig& r) { r.pick("Frame Rate", 6); },
         {Setting::videoFormat(hk::CameraResolution::p4K, hk::CameraFrameRate::fps60)}, "4K 60 FPS"},
        {"1080p 9:16 first", [](SettingsRig& r) { r.pick("Resolution", 4); },
         {Setting::videoFormat(hk::CameraResolution::vertical1080, hk::CameraFrameRate::fps30)}, "1080p 9:16 30 FPS"},
        {"As on Camera after a codec",
         [](SettingsRig& r) {
             r.pick("Codec", 2);
             r.pick("Codec", 0);
         },
         {Setting::compression(hk::VideoCodec::h264)}, "Camera"},
        {"As on Camera first", [](SettingsRig& r) { r.pick("Color", 0); }, {}, "Camera"},
        {"EV down twice", [](SettingsRig& r) {
             r.pressEV("evDown");
             r.pressEV("evDown");
         },
         {Setting::exposureCompensation(-1), Setting::exposureCompensation(-2)}, "Camera"},
        {"EV to the top and one more",
         [](SettingsRig& r) {
             for (int i = 0; i < 10; ++i) r.pressEV("evUp");
         },
         {Setting::exposureCompensation(1), Setting::exposureCompensation(2), Setting::exposureCompensation(3),
          Setting::exposureCompensation(4), Setting::exposureCompensation(5), Setting::exposureCompensation(6),
          Setting::exposureCompensation(7), Setting::exposureCompensation(8), Setting::exposureCompensation(9)},
         "Camera"},
        {"auto white balance off, then on",
         [](SettingsRig& r) {
             r.find<ui::SwitchButton>("autoWhiteBalance")->click();
             r.find<ui::SwitchButton>("autoWhiteBalance")->click();
         },
         {Setting::whiteBalance(5600), Setting::whiteBalance(std::nullopt)}, "Camera"},
        {"a drag sends one value, on release",
         [](SettingsRig& r) {
             r.find<ui::SwitchButton>("autoWhiteBalance")->click();
             r.dragKelvin({5700, 6400, 7300});
         },
         {Setting::whiteBalance(5600), Setting::whiteBalance(7300)}, "Camera"},
    };
    for (const auto& c : cases) {
        SettingsRig rig;
        c.steps(rig);
        EXPECT_EQ(rig.camera()->settings(), c.sent) << c.name;
        EXPECT_EQ(rig.button->title(), c.title) << c.name;
    }
}

// A picker's face and its menu show what the model holds: the chosen row
// checked, and after "As on Camera" (which writes nothing) still the value.
TEST(CameraSettingsPanel, APickerShowsAndChecksTheModelsValue) {
    SettingsRig rig;
    const auto checkedRows = [](QMenu* menu) {
        std::vector<int> rows;
        for (int i = 0; i < menu->actions().size(); ++i)
            if (menu->actions()[i]->isChecked()) rows.push_back(i);
        return rows;
    };
    auto* codec = rig.find<ui::PopUpButton>("Codec");
    EXPECT_EQ(codec->text(), QStringLiteral("As on Camera"));
    rig.pick("Codec", 2);
    EXPECT_EQ(rig.state().cameraSettings.codec, hk::VideoCodec::h264);
    EXPECT_EQ(codec->text(), QString::fromStdString(codecPickerRows()[2]));
    QMenu* menu = rig.openPicker("Codec");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(checkedRows(menu), std::vector<int>{2});
    menu->close();
    rig.pick("Codec", 0);
    EXPECT_EQ(rig.state().cameraSettings.codec, hk::VideoCodec::h264);
    EXPECT_EQ(codec->text(), QString::fromStdString(codecPickerRows()[2]));
    menu = rig.openPicker("Codec");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(checkedRows(menu), std::vector<int>{2});
    menu->close();
    EXPECT_EQ(rig.camera()->settings(), std::vector<Setting>{Setting::compression(hk::VideoCodec::h264)});
}

TEST(CameraSettingsPanel, ManualSwapsEVForISOAndTheSliderFollowsItsDrag) {
    SettingsRig rig;
    EXPECT_EQ(rig.find<ui::PopUpButton>("ISO")->parentWidget()->isVisible(), false);
    rig.pick("Mode", 2);
    EXPECT_TRUE(rig.find<ui::PopUpButton>("ISO")->parentWidget()->isVisible());
    EXPECT_FALSE(rig.find<ui::TextButton>("evUp")->isVisible());
    rig.find<ui::SwitchButton>("autoWhiteBalance")->click();
    auto* slider = rig.find<QSlider>("kelvin");
    slider->setSliderDown(true);
    slider->setValue(73);
    EXPECT_EQ(rig.kelvinText(), QStringLiteral("7300K"));
    EXPECT_EQ(rig.state().cameraSettings.whiteBalanceKelvin, 5600);  // nothing before the release
    slider->setSliderDown(false);
    EXPECT_EQ(rig.state().cameraSettings.whiteBalanceKelvin, 7300);
}

TEST(CameraSettingsPanel, ReopeningLoadsTheStoredKelvin) {
    SettingsRig rig;
    rig.find<ui::SwitchButton>("autoWhiteBalance")->click();
    rig.dragKelvin({4800});
    rig.button->popover()->dismiss();
    EXPECT_FALSE(rig.state().showCameraSettings);
    EXPECT_EQ(rig.open()->kelvin(), 4800.0);
    EXPECT_EQ(rig.kelvinText(), QStringLiteral("4800K"));
    rig.find<ui::SwitchButton>("autoWhiteBalance")->click();  // on
    rig.find<ui::SwitchButton>("autoWhiteBalance")->click();  // off again: the slider's kelvin
    EXPECT_EQ(rig.camera()->settings().back(), Setting::whiteBalance(4800));
}

// Pressed where it shows in the popover's window, the switch turns automatic
// white balance off and back on, showing what the model holds each time.
TEST(CameraSettingsPanel, TheWhiteBalanceSwitchTakesPressesInItsWindow) {
    SettingsRig rig;
    auto* awb = rig.find<ui::SwitchButton>("autoWhiteBalance");
    ASSERT_NE(awb, nullptr);
    auto* slider = rig.find<QSlider>("kelvin");
    const auto press = [&] {
        QWidget* top = awb->window();
        QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, awb->mapTo(top, awb->rect().center()));
    };
    EXPECT_TRUE(awb->isOn());
    EXPECT_FALSE(slider->isVisible());
    press();
    EXPECT_FALSE(awb->isOn());
    EXPECT_TRUE(slider->isVisible());
    EXPECT_EQ(rig.state().cameraSettings.whiteBalanceKelvin, 5600);
    press();
    EXPECT_TRUE(awb->isOn());
    EXPECT_FALSE(slider->isVisible());
    EXPECT_EQ(rig.camera()->settings(),
              (std::vector<Setting>{Setting::whiteBalance(5600), Setting::whiteBalance(std::nullopt)}));
}

TEST(CameraSettingsPanel, AHiddenPillClosesThePopoverAndClearsTheFlag) {
    SettingsRig rig;
    rig.open();
    ASSERT_TRUE(rig.button->popover()->isPresented());
    rig.button->hide();
    EXPECT_FALSE(rig.button->popover()->isPresented());
    EXPECT_FALSE(rig.state().showCameraSettings);
    // Set while the pill is away, the flag does not linger either.
    rig.model->setShowCameraSettings(true);
    EXPECT_FALSE(rig.state().showCameraSettings);
}

// What the camera answers decides whether a choice stays.
TEST(CameraSettingsModel, ARefusedOrUnansweredChoiceReturnsAndANewCameraHearsTheRest) {
    const struct {
        const char* name;
        hk::CommandOutcome outcome;
        bool kept;
    } cases[] = {
        {"accepted", hk::CommandOutcome::accepted(), true},
        {"rejected", hk::CommandOutcome::rejected(0x01), false},
        {"no reply", hk::CommandOutcome::noReply(), false},
    };
    for (const auto& c : cases) {
        SettingsRig rig;
        rig.pick("Codec", 1);
        rig.pick("Frame Rate", 3);
        const Setting format = Setting::videoFormat(hk::CameraResolution::p4K, hk::CameraFrameRate::fps30);
        rig.emit(hk::CameraEvent::commandResult(hk::CameraCommand::setting(format).label, c.outcome));
        EXPECT_EQ(rig.state().cameraSettings.frameRate.has_value(), c.kept) << c.name;
        EXPECT_EQ(rig.state().cameraSettings.resolution.has_value(), c.kept) << c.name;
        EXPECT_EQ(rig.button->title(), c.kept ? QStringLiteral("4K 30 FPS") : QStringLiteral("Camera")) << c.name;
        EXPECT_EQ(rig.state().cameraSettings.codec, hk::VideoCodec::hevc) << c.name;  // not answered yet: stays

        // A new camera of the same route is told what is still chosen once its picture runs.
        rig.model->connect(ConnectionMode::wireless);
        rig.main.runUntilIdle();
        EXPECT_TRUE(rig.camera()->settings().empty()) << c.name;
        rig.emit(hk::CameraEvent::stats(test::picture(1920, 1080)));
        std::vector<Setting> told{Setting::compression(hk::VideoCodec::hevc)};
        if (c.kept) told.insert(told.begin(), format);
        EXPECT_EQ(rig.camera()->settings(), told) << c.name;
        rig.emit(hk::CameraEvent::stats(test::picture(1920, 1080)));
        EXPECT_EQ(rig.camera()->settings().size(), told.size()) << c.name;  // once
    }
}

// Choices made before the camera's picture runs went out when they were made;
// the first picture tells the camera only what it has not heard yet.
TEST(CameraSettingsModel, TheFirstPictureRepeatsNoChoiceTheCameraAlreadyGot) {
    const Setting h264 = Setting::compression(hk::VideoCodec::h264);
    const Setting dLog = Setting::colorProfile(hk::ColorProfile::dLog);
    const struct {
        const char* name;
        std::function<void(SettingsRig&)> beforePicture;
        std::vector<Setting> sent;
        std::vector<Setting> nextCamera;  // after the camera refused the H.264
    } cases[] = {
        {"one choice", [](SettingsRig& r) { r.pick("Codec", 2); }, {h264}, {}},
        {"the same kind twice", [](SettingsRig& r) {
             r.pick("Codec", 1);
             r.pick("Codec", 2);
         },
         {Setting::compression(hk::VideoCodec::hevc), h264},
         {Setting::compression(hk::VideoCodec::hevc)}},
        {"two kinds", [](SettingsRig& r) {
             r.pick("Codec", 2);
             r.pick("Color", 2);
         },
         {h264, dLog},
         {dLog}},
    };
    for (const auto& c : cases) {
        SettingsRig rig;
        c.beforePicture(rig);
        rig.emit(hk::CameraEvent::stats(test::picture(1920, 1080)));
        EXPECT_EQ(rig.camera()->settings(), c.sent) << c.name;

        // The refused H.264 returns to what was chosen before it, and the next
        // camera hears what is still chosen, once.
        rig.emit(hk::CameraEvent::commandResult(hk::CameraCommand::setting(h264).label,
                                                hk::CommandOutcome::rejected(0x01)));
        rig.model->connect(ConnectionMode::wireless);
        rig.main.runUntilIdle();
        rig.emit(hk::CameraEvent::stats(test::picture(1920, 1080)));
        EXPECT_EQ(rig.camera()->settings(), c.nextCamera) << c.name;
    }
}

}  // namespace
}  // namespace lumenhollow
