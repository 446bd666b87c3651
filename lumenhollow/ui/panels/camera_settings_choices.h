#pragma once

// What each control of the camera settings panel does and shows, without
// widgets: a choice turns the current settings into the next settings and
// the one CameraSetting that tells the camera; "As on Camera" (no value)
// changes nothing and sends nothing. Plain functions, any thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/camera/camera_setting.h"
#include "lumenhollow/model/model_types.h"

namespace lumenhollow {

// The text of "As on Camera", the first row of every picker.
inline constexpr const char* kAsOnCamera = "As on Camera";

// The settings after a choice, and what the camera is told.
struct CameraSettingsChange {
    CameraSettingsState next;
    hollowkit::CameraSetting setting;
    bool operator==(const CameraSettingsChange&) const = default;
};

// The format always goes whole: a resolution chosen first fills in 30 FPS,
// a frame rate chosen first fills in 4K.
std::optional<CameraSettingsChange> chooseResolution(const CameraSettingsState& now,
                                                     std::optional<hollowkit::CameraResolution> choice);
std::optional<CameraSettingsChange> chooseFrameRate(const CameraSettingsState& now,
                                                    std::optional<hollowkit::CameraFrameRate> choice);
std::optional<CameraSettingsChange> chooseCodec(const CameraSettingsState& now,
                                                std::optional<hollowkit::VideoCodec> choice);
std::optional<CameraSettingsChange> chooseColorProfile(const CameraSettingsState& now,
                                                       std::optional<hollowkit::ColorProfile> choice);
std::optional<CameraSettingsChange> chooseExposureMode(const CameraSettingsState& now,
                                                       std::optional<hollowkit::ExposureMode> choice);
std::optional<CameraSettingsChange> chooseISO(const CameraSettingsState& now,
                                              std::optional<hollowkit::CameraISO> choice);

// The EV stepper's range, in thirds of a stop.
inline constexpr int kMinEVThirdStops = -9;
inline constexpr int kMaxEVThirdStops = 9;
// One step of the EV stepper (+1 or -1); nothing beyond the range.
std::optional<CameraSettingsChange> stepEV(const CameraSettingsState& now, int step);

// The white-balance slider, in kelvin.
inline constexpr double kMinKelvin = 2000;
inline constexpr double kMaxKelvin = 10000;
inline constexpr double kKelvinStep = 100;
inline constexpr double kDefaultKelvin = 5600;
// The slider's position when the panel opens: the chosen kelvin, else 5600.
double loadKelvin(const CameraSettingsState& now);
// On: automatic white balance. Off: the slider's kelvin.
CameraSettingsChange chooseAutoWhiteBalance(const CameraSettingsState& now, bool on, double sliderKelvin);
// The slider let go (editing false) sends its kelvin; while it moves, nothing.
std::optional<CameraSettingsChange> applyKelvin(const CameraSettingsState& now, double sliderKelvin, bool editing);

// "Camera" until both the resolution and the frame rate are chosen, then
// "4K 30 FPS", "2.7K 9:16 60 FPS".
std::string cameraSettingsSummary(const CameraSettingsState& settings);

// What the panel shows for `settings`.
struct CameraSettingsLook {
    bool showsISO = false;  // the ISO row stands where the EV row would (manual exposure)
    std::string evLabel;    // "+0.0", "-0.3", "+3.0"
    bool canLowerEV = false;
    bool canRaiseEV = false;
    bool autoWhiteBalance = true;
    bool showsKelvinSlider = false;
    bool operator==(const CameraSettingsLook&) const = default;
};
CameraSettingsLook cameraSettingsLook(const CameraSettingsState& settings);

// "5600K": the slider's kelvin, truncated.
std::string kelvinLabel(double kelvin);

// The rows of a picker: "As on Camera", then each case's title in order.
template <hollowkit::CameraSettingEnum E>
std::vector<std::string> pickerRows() {
    std::vector<std::string> rows{kAsOnCamera};
    for (E value : hollowkit::allCases<E>()) rows.emplace_back(hollowkit::title(value));
    return rows;
}
std::vector<std::string> codecPickerRows();

// The row a picker shows for a value (0: "As on Camera"), and the value a
// row stands for (nothing for row 0 or a row out of range).
template <hollowkit::CameraSettingEnum E>
int pickerRow(std::optional<E> value) {
    if (!value) return 0;
    int row = 1;
    for (E one : hollowkit::allCases<E>()) {
        if (one == *value) return row;
        ++row;
    }
    return 0;
}
template <hollowkit::CameraSettingEnum E>
std::optional<E> pickerValue(int row) {
    const auto cases = hollowkit::allCases<E>();
    if (row < 1 || row > static_cast<int>(cases.size())) return std::nullopt;
    return cases[static_cast<size_t>(row - 1)];
}
int codecPickerRow(std::optional<hollowkit::VideoCodec> codec);
std::optional<hollowkit::VideoCodec> codecPickerValue(int row);

}  // namespace lumenhollow
