// CameraModel: the camera's own recording settings. A choice is stored and
// sent at once; the camera's answer then decides whether it stays, so the
// panel never goes on showing a value the camera refused or never got.

#include <algorithm>
#include <type_traits>
#include <variant>

#include "hollowkit/camera/camera_command.h"
#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

namespace {

// The fields of `settings` that `setting` speaks for, copied from `from`.
CameraSettingsState withSettingFields(CameraSettingsState settings, const CameraSettingsState& from,
                                      const hk::CameraSetting& setting) {
    std::visit(
        [&](const auto& s) {
            using S = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<S, hk::CameraSetting::VideoFormat>) {
                settings.resolution = from.resolution;
                settings.frameRate = from.frameRate;
            } else if constexpr (std::is_same_v<S, hk::CameraSetting::Compression>) {
                settings.codec = from.codec;
            } else if constexpr (std::is_same_v<S, hk::CameraSetting::Color>) {
                settings.colorProfile = from.colorProfile;
            } else if constexpr (std::is_same_v<S, hk::CameraSetting::Exposure>) {
                settings.exposureMode = from.exposureMode;
            } else if constexpr (std::is_same_v<S, hk::CameraSetting::Iso>) {
                settings.iso = from.iso;
            } else if constexpr (std::is_same_v<S, hk::CameraSetting::ExposureCompensation>) {
                settings.evThirdStops = from.evThirdStops;
            } else {
                static_assert(std::is_same_v<S, hk::CameraSetting::WhiteBalance>);
                settings.whiteBalanceKelvin = from.whiteBalanceKelvin;
            }
        },
        setting.value);
    return settings;
}

// Every choice that is not "as on the camera", in the panel's order.
std::vector<hk::CameraSetting> storedSettings(const CameraSettingsState& s) {
    std::vector<hk::CameraSetting> out;
    if (s.resolution && s.frameRate) out.push_back(hk::CameraSetting::videoFormat(*s.resolution, *s.frameRate));
    if (s.codec) out.push_back(hk::CameraSetting::compression(*s.codec));
    if (s.colorProfile) out.push_back(hk::CameraSetting::colorProfile(*s.colorProfile));
    if (s.exposureMode) out.push_back(hk::CameraSetting::exposureMode(*s.exposureMode));
    if (s.iso) out.push_back(hk::CameraSetting::iso(*s.iso));
    if (s.evThirdStops != 0) out.push_back(hk::CameraSetting::exposureCompensation(s.evThirdStops));
    if (s.whiteBalanceKelvin) out.push_back(hk::CameraSetting::whiteBalance(s.whiteBalanceKelvin));
    return out;
}

}  // namespace

void CameraModel::applyCameraSetting(const CameraSettingsState& next, const hk::CameraSetting& setting) {
    const CameraSettingsState before = state_.cameraSettings;
    publish<Field::cameraSettings>(next);
    sendCameraSetting(setting, before);
}

void CameraModel::sendCameraSetting(const hk::CameraSetting& setting, const CameraSettingsState& before) {
    // Only a camera that takes settings answers; elsewhere the choice waits
    // for the next camera that does.
    if (camera_->supportsCameraSettings()) {
        // The camera answers only the last of two settings of one kind sent
        // in quick succession (the route forgets the earlier one), so the
        // earlier one waits for nothing. A refusal of the later one returns
        // to what was chosen before it, as for any refusal.
        std::erase_if(cameraSettings_.sent, [&](const SentSetting& one) {
            return one.setting.value.index() == setting.value.index();
        });
        cameraSettings_.sent.push_back(
            {hk::CameraCommand::setting(setting).label, setting, before, state_.cameraSettings});
        auto told =
            std::find_if(cameraSettings_.told.begin(), cameraSettings_.told.end(),
                         [&](const hk::CameraSetting& one) { return one.value.index() == setting.value.index(); });
        if (told == cameraSettings_.told.end()) {
            cameraSettings_.told.push_back(setting);
        } else {
            *told = setting;
        }
    }
    camera_->applySetting(setting);
}

void CameraModel::settleCameraSettingAnswer(const std::string& label, const hk::CommandOutcome& outcome) {
    // Answers come in the order the commands went out: the oldest with this label.
    auto sent = std::find_if(cameraSettings_.sent.begin(), cameraSettings_.sent.end(),
                             [&](const SentSetting& one) { return one.label == label; });
    if (sent == cameraSettings_.sent.end()) return;
    const SentSetting settled = *sent;
    cameraSettings_.sent.erase(sent);
    if (outcome.kind == hk::CommandOutcome::Kind::accepted) return;
    const CameraSettingsState& now = state_.cameraSettings;
    // A later choice of the same fields is its own command with its own answer.
    if (withSettingFields(now, settled.after, settled.setting) != now) return;
    publish<Field::cameraSettings>(withSettingFields(now, settled.before, settled.setting));
}

void CameraModel::resendCameraSettings() {
    cameraSettings_.resend = false;
    if (!camera_->supportsCameraSettings()) return;
    for (const hk::CameraSetting& setting : storedSettings(state_.cameraSettings)) {
        // Chosen while this camera was connecting, it went out then.
        if (std::ranges::find(cameraSettings_.told, setting) != cameraSettings_.told.end()) continue;
        // Refused now, a choice falls back to "as on the camera": the camera
        // keeps its own value.
        sendCameraSetting(setting, withSettingFields(state_.cameraSettings, CameraSettingsState{}, setting));
    }
}

}  // namespace lumenhollow
