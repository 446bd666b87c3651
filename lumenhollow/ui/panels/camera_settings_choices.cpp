#include "lumenhollow/ui/panels/camera_settings_choices.h"

#include <cmath>
#include <charconv>

namespace lumenhollow {

namespace hk = hollowkit;

namespace {

// The codec rows are the bottom bar's: shown verbatim.
std::string_view codecRowTitle(hk::VideoCodec codec) { return codec == hk::VideoCodec::hevc ? "HEVC" : "H.264"; }

int truncatedKelvin(double kelvin) { return static_cast<int>(std::trunc(kelvin)); }

}  // namespace

std::optional<CameraSettingsChange> chooseResolution(const CameraSettingsState& now,
                                                     std::optional<hk::CameraResolution> choice) {
    if (!choice) return std::nullopt;
    CameraSettingsState next = now;
    next.resolution = *choice;
    next.frameRate = now.frameRate.value_or(hk::CameraFrameRate::fps30);
    return CameraSettingsChange{next, hk::CameraSetting::videoFormat(*next.resolution, *next.frameRate)};
}

std::optional<CameraSettingsChange> chooseFrameRate(const CameraSettingsState& now,
                                                    std::optional<hk::CameraFrameRate> choice) {
    if (!choice) return std::nullopt;
    CameraSettingsState next = now;
    next.resolution = now.resolution.value_or(hk::CameraResolution::p4K);
    next.frameRate = *choice;
    return CameraSettingsChange{next, hk::CameraSetting::videoFormat(*next.resolution, *next.frameRate)};
}

std::optional<CameraSettingsChange> chooseCodec(const CameraSettingsState& now, std::optional<hk::VideoCodec> choice) {
    if (!choice) return std::nullopt;
    CameraSettingsState next = now;
    next.codec = *choice;
    return CameraSettingsChange{next, hk::CameraSetting::compression(*choice)};
}

std::optional<CameraSettingsChange> chooseColorProfile(const CameraSettingsState& now,
                                                       std::optional<hk::ColorProfile> choice) {
    if (!choice) return std::nullopt;
    CameraSettingsState next = now;
    next.colorProfile = *choice;
    return CameraSettingsChange{next, hk::CameraSetting::colorProfile(*choice)};
}

std::optional<CameraSettingsChange> chooseExposureMode(const CameraSettingsState& now,
                                                       std::optional<hk::ExposureMode> choice) {
    if (!choice) return std::nullopt;
    CameraSettingsState next = now;
    next.exposureMode = *choice;
    return CameraSettingsChange{next, hk::CameraSetting::exposureMode(*choice)};
}

std::optional<CameraSettingsChange> chooseISO(const CameraSettingsState& now, std::optional<hk::CameraISO> choice) {
    if (!choice) return std::nullopt;
    CameraSettingsState next = now;
    next.iso = *choice;
    return CameraSettingsChange{next, hk::CameraSetting::iso(*choice)};
}

std::optional<CameraSettingsChange> stepEV(const CameraSettingsState& now, int step) {
    const int wanted = now.evThirdStops + step;
    if (step == 0 || wanted < kMinEVThirdStops || wanted > kMaxEVThirdStops) return std::nullopt;
    CameraSettingsState next = now;
    next.evThirdStops = wanted;
    return CameraSettingsChange{next, hk::CameraSetting::exposureCompensation(wanted)};
}

double loadKelvin(const CameraSettingsState& now) {
    return now.whiteBalanceKelvin ? static_cast<double>(*now.whiteBalanceKelvin) : kDefaultKelvin;
}

CameraSettingsChange chooseAutoWhiteBalance(const CameraSettingsState& now, bool on, double sliderKelvin) {
    CameraSettingsState next = now;
    next.whiteBalanceKelvin = on ? std::nullopt : std::optional(truncatedKelvin(sliderKelvin));
    return {next, hk::CameraSetting::whiteBalance(next.whiteBalanceKelvin)};
}

std::optional<CameraSettingsChange> applyKelvin(const CameraSettingsState& now, double sliderKelvin, bool editing) {
    if (editing) return std::nullopt;
    CameraSettingsState next = now;
    next.whiteBalanceKelvin = truncatedKelvin(sliderKelvin);
    return CameraSettingsChange{next, hk::CameraSetting::whiteBalance(next.whiteBalanceKelvin)};
}

std::string cameraSettingsSummary(const CameraSettingsState& settings) {
    if (!settings.resolution || !settings.frameRate) return "Camera";
    return std::string(hk::title(*settings.resolution)) + " " + std::string(hk::title(*settings.frameRate));
}

CameraSettingsLook cameraSettingsLook(const CameraSettingsState& settings) {
    CameraSettingsLook look;
    look.showsISO = settings.exposureMode == hk::ExposureMode::manual;
    // "%+.1f" whatever the process's locale.
    char text[16];
    const double stops = settings.evThirdStops / 3.0;
    const auto end = std::to_chars(text, text + sizeof text, stops, std::chars_format::fixed, 1).ptr;
    look.evLabel = (stops >= 0 ? "+" : "") + std::string(text, end);
    look.canLowerEV = settings.evThirdStops > kMinEVThirdStops;
    look.canRaiseEV = settings.evThirdStops < kMaxEVThirdStops;
    look.autoWhiteBalance = !settings.whiteBalanceKelvin.has_value();
    look.showsKelvinSlider = settings.whiteBalanceKelvin.has_value();
    return look;
}

std::string kelvinLabel(double kelvin) { return std::to_string(truncatedKelvin(kelvin)) + "K"; }

std::vector<std::string> codecPickerRows() {
    std::vector<std::string> rows{kAsOnCamera};
    for (hk::VideoCodec codec : hk::kAllVideoCodecs) rows.emplace_back(codecRowTitle(codec));
    return rows;
}

int codecPickerRow(std::optional<hk::VideoCodec> codec) {
    if (!codec) return 0;
    int row = 1;
    for (hk::VideoCodec one : hk::kAllVideoCodecs) {
        if (one == *codec) return row;
        ++row;
    }
    return 0;
}

std::optional<hk::VideoCodec> codecPickerValue(int row) {
    if (row < 1 || row > static_cast<int>(hk::kAllVideoCodecs.size())) return std::nullopt;
    return hk::kAllVideoCodecs[static_cast<size_t>(row - 1)];
}

}  // namespace lumenhollow
