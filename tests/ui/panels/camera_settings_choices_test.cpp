#include "lumenhollow/ui/panels/camera_settings_choices.h"

#include <gtest/gtest.h>

namespace lumenhollow {
namespace {

namespace hk = hollowkit;
using Setting = hk::CameraSetting;
using R = hk::CameraResolution;
using F = hk::CameraFrameRate;

using Choice = std::function<std::optional<CameraSettingsChange>(const CameraSettingsState&)>;

CameraSettingsState chosen(std::function<void(CameraSettingsState&)> edit) {
    CameraSettingsState state;
    edit(state);
    return state;
}

// Each control's choice from a starting state: the settings after it and what
// the camera is told (nothing for "As on Camera", a held slider or a stepper
// at its end).
TEST(CameraSettingsChoices, EachChoiceStoresAndSendsOneSetting) {
    const CameraSettingsState fresh;
    const CameraSettingsState format2_7K24 = chosen([](auto& s) {
        s.resolution = R::p2_7K;
        s.frameRate = F::fps24;
    });
    const struct {
        const char* name;
        CameraSettingsState start;
        Choice choose;
        std::optional<CameraSettingsState> next;  // nothing: no change, nothing sent
        std::optional<Setting> sent;
        std::string summary;
    } cases[] = {
        {"60 FPS first fills in 4K", fresh, [](auto& s) { return chooseFrameRate(s, F::fps60); },
         chosen([](auto& s) { s.resolution = R::p4K; s.frameRate = F::fps60; }), Setting::videoFormat(R::p4K, F::fps60),
         "4K 60 FPS"},
        {"1080p 9:16 first fills in 30 FPS", fresh, [](auto& s) { return chooseResolution(s, R::vertical1080); },
         chosen([](auto& s) { s.resolution = R::vertical1080; s.frameRate = F::fps30; }),
         Setting::videoFormat(R::vertical1080, F::fps30), "1080p 9:16 30 FPS"},
        {"a resolution keeps the chosen rate", format2_7K24, [](auto& s) { return chooseResolution(s, R::vertical3K); },
         chosen([](auto& s) { s.resolution = R::vertical3K; s.frameRate = F::fps24; }),
         Setting::videoFormat(R::vertical3K, F::fps24), "3K 9:16 24 FPS"},
        {"a rate keeps the chosen resolution", format2_7K24, [](auto& s) { return chooseFrameRate(s, F::fps50); },
         chosen([](auto& s) { s.resolution = R::p2_7K; s.frameRate = F::fps50; }),
         Setting::videoFormat(R::p2_7K, F::fps50), "2.7K 50 FPS"},
        {"As on Camera for the resolution", format2_7K24, [](auto& s) { return chooseResolution(s, std::nullopt); },
         std::nullopt, std::nullopt, "2.7K 24 FPS"},
        {"As on Camera for the rate", format2_7K24, [](auto& s) { return chooseFrameRate(s, std::nullopt); },
         std::nullopt, std::nullopt, "2.7K 24 FPS"},
        {"As on Camera for the codec", fresh, [](auto& s) { return chooseCodec(s, std::nullopt); }, std::nullopt,
         std::nullopt, "Camera"},
        {"H.264", fresh, [](auto& s) { return chooseCodec(s, hk::VideoCodec::h264); },
         chosen([](auto& s) { s.codec = hk::VideoCodec::h264; }), Setting::compression(hk::VideoCodec::h264), "Camera"},
        {"D-Log 2", fresh, [](auto& s) { return chooseColorProfile(s, hk::ColorProfile::dLog2); },
         chosen([](auto& s) { s.colorProfile = hk::ColorProfile::dLog2; }),
         Setting::colorProfile(hk::ColorProfile::dLog2), "Camera"},
        {"Manual", fresh, [](auto& s) { return chooseExposureMode(s, hk::ExposureMode::manual); },
         chosen([](auto& s) { s.exposureMode = hk::ExposureMode::manual; }),
         Setting::exposureMode(hk::ExposureMode::manual), "Camera"},
        {"ISO 800", fresh, [](auto& s) { return chooseISO(s, hk::CameraISO::iso800); },
         chosen([](auto& s) { s.iso = hk::CameraISO::iso800; }), Setting::iso(hk::CameraISO::iso800), "Camera"},
        {"As on Camera for the ISO", fresh, [](auto& s) { return chooseISO(s, std::nullopt); }, std::nullopt,
         std::nullopt, "Camera"},
        {"EV down from 0", fresh, [](auto& s) { return stepEV(s, -1); },
         chosen([](auto& s) { s.evThirdStops = -1; }), Setting::exposureCompensation(-1), "Camera"},
        {"EV up to the top", chosen([](auto& s) { s.evThirdStops = 8; }), [](auto& s) { return stepEV(s, +1); },
         chosen([](auto& s) { s.evThirdStops = 9; }), Setting::exposureCompensation(9), "Camera"},
        {"EV past the top", chosen([](auto& s) { s.evThirdStops = 9; }), [](auto& s) { return stepEV(s, +1); },
         std::nullopt, std::nullopt, "Camera"},
        {"EV past the bottom", chosen([](auto& s) { s.evThirdStops = -9; }), [](auto& s) { return stepEV(s, -1); },
         std::nullopt, std::nullopt, "Camera"},
        {"auto white balance off sends the fresh slider's 5600", fresh,
         [](auto& s) { return chooseAutoWhiteBalance(s, false, loadKelvin(s)); },
         chosen([](auto& s) { s.whiteBalanceKelvin = 5600; }), Setting::whiteBalance(5600), "Camera"},
        {"auto white balance on", chosen([](auto& s) { s.whiteBalanceKelvin = 4800; }),
         [](auto& s) { return chooseAutoWhiteBalance(s, true, 4800); }, fresh, Setting::whiteBalance(std::nullopt),
         "Camera"},
        {"a held slider sends nothing", chosen([](auto& s) { s.whiteBalanceKelvin = 5600; }),
         [](auto& s) { return applyKelvin(s, 7300, true); }, std::nullopt, std::nullopt, "Camera"},
        {"a released slider sends its kelvin", chosen([](auto& s) { s.whiteBalanceKelvin = 5600; }),
         [](auto& s) { return applyKelvin(s, 7300, false); }, chosen([](auto& s) { s.whiteBalanceKelvin = 7300; }),
         Setting::whiteBalance(7300), "Camera"},
    };
    for (const auto& c : cases) {
        const std::optional<CameraSettingsChange> change = c.choose(c.start);
        ASSERT_EQ(change.has_value(), c.next.has_value()) << c.name;
        if (change) {
            EXPECT_EQ(change->next, *c.next) << c.name;
            EXPECT_EQ(change->setting, *c.sent) << c.name;
        }
        EXPECT_EQ(cameraSettingsSummary(change ? change->next : c.start), c.summary) << c.name;
    }
}

TEST(CameraSettingsChoices, WhatThePanelShows) {
    const struct {
        const char* name;
        CameraSettingsState settings;
        CameraSettingsLook look;
    } cases[] = {
        {"fresh", {}, {false, "+0.0", true, true, true, false}},
        {"a third down", chosen([](auto& s) { s.evThirdStops = -1; }), {false, "-0.3", true, true, true, false}},
        {"five thirds up", chosen([](auto& s) { s.evThirdStops = 5; }), {false, "+1.7", true, true, true, false}},
        {"at the bottom", chosen([](auto& s) { s.evThirdStops = -9; }), {false, "-3.0", false, true, true, false}},
        {"at the top", chosen([](auto& s) { s.evThirdStops = 9; }), {false, "+3.0", true, false, true, false}},
        {"manual swaps EV for ISO", chosen([](auto& s) { s.exposureMode = hk::ExposureMode::manual; }),
         {true, "+0.0", true, true, true, false}},
        {"auto keeps EV", chosen([](auto& s) { s.exposureMode = hk::ExposureMode::automatic; }),
         {false, "+0.0", true, true, true, false}},
        {"kelvin chosen", chosen([](auto& s) { s.whiteBalanceKelvin = 4800; }), {false, "+0.0", true, true, false, true}},
    };
    for (const auto& c : cases) EXPECT_EQ(cameraSettingsLook(c.settings), c.look) << c.name;
}

TEST(CameraSettingsChoices, PickerRowsAndValuesAgree) {
    EXPECT_EQ(pickerRows<R>(), (std::vector<std::string>{"As on Camera", "1080p", "2.7K", "4K", "1080p 9:16",
                                                          "2.7K 9:16", "3K 9:16"}));
    EXPECT_EQ(codecPickerRows(), (std::vector<std::string>{"As on Camera", "HEVC", "H.264"}));
    for (int row = 0; row < 8; ++row) {
        const std::optional<hk::CameraISO> iso = pickerValue<hk::CameraISO>(row);
        EXPECT_EQ(iso.has_value(), row >= 1) << row;
        EXPECT_EQ(pickerRow(iso), iso ? row : 0) << row;
    }
    EXPECT_EQ(pickerValue<hk::CameraISO>(10), std::nullopt);
    EXPECT_EQ(codecPickerValue(codecPickerRow(hk::VideoCodec::h264)), hk::VideoCodec::h264);
    EXPECT_EQ(codecPickerValue(3), std::nullopt);
}

TEST(CameraSettingsChoices, KelvinLoadsFromTheChoiceAndTruncates) {
    EXPECT_EQ(loadKelvin({}), 5600.0);
    EXPECT_EQ(loadKelvin(chosen([](auto& s) { s.whiteBalanceKelvin = 4800; })), 4800.0);
    EXPECT_EQ(kelvinLabel(7399.9), "7399K");
    EXPECT_EQ(kelvinLabel(10000), "10000K");
}

}  // namespace
}  // namespace lumenhollow
