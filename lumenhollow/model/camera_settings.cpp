// CameraModel: the settings-backed properties' setters, each publishing its
// field and storing it, and the rule that gives the live preview its style.

#include <utility>

#include "hollowkit/base/pocket_log.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/stored_settings.h"

namespace lumenhollow {

void CameraModel::setCodec(hk::VideoCodec codec) {
    assignSetting<Field::codec>(codec);
}

void CameraModel::setCountdownSeconds(int seconds) {
    assignSetting<Field::countdownSeconds>(seconds);
}

void CameraModel::setRecordScreen(bool on) {
    assignSetting<Field::recordScreen>(on);
    applyPreviewStyle();
}

void CameraModel::setBubbleStyle(const hk::BubbleStyle& style) {
    assignSetting<Field::bubbleStyle>(style);
    applyPreviewStyle();
}

void CameraModel::setIncludeMacSound(bool on) {
    assignSetting<Field::includeMacSound>(on);
}

void CameraModel::setAutoZoom(bool on) {
    assignSetting<Field::autoZoom>(on);
}

void CameraModel::setShowInNotch(bool on) {
    assignSetting<Field::showInNotch>(on);
}

void CameraModel::setNotchContent(NotchContent content) {
    assignSetting<Field::notchContent>(content);
}

void CameraModel::setNotchTrigger(NotchTrigger trigger) {
    assignSetting<Field::notchTrigger>(trigger);
}

void CameraModel::setCloseBehavior(CloseBehavior behavior) {
    assignSetting<Field::closeBehavior>(behavior);
}

void CameraModel::setGuides(std::set<GuideKind> guides) {
    assignSetting<Field::guides>(std::move(guides));
}

void CameraModel::setSelectedLUT(std::optional<hk::ColorLUT> look) { selectLUT(std::move(look), nullptr); }

void CameraModel::setLastScreenTake(std::optional<std::filesystem::path> folder) {
    assignSetting<Field::lastScreenTake>(std::move(folder));
}

void CameraModel::setWirelessMicID(std::string id) {
    assignSetting<Field::wirelessMicID>(std::move(id));
}

void CameraModel::storeSetting(Field field) {
    // A write that is not saved is told by settings_.
    writeStoredSetting(settings_, state_, field);
}

void CameraModel::tellNotSaved(const std::string& what, const std::string& why) {
    // Once: every later change would fail the same way.
    if (!toldNotSaved_.insert(what).second) return;
    hk::PocketLog::logf("%s cannot be saved (%s); the changes last until the program quits", what.c_str(),
                        why.c_str());
    // A folder that cannot be written fails the copy of a list read in part
    // and every setting alike: the window says it once.
    if (std::exchange(notSavedShown_, true)) return;
    postNotice(what + " cannot be saved (" + why + "); changes last until Lumenhollow quits");
}

bool CameraModel::readyToOverwrite(std::string_view key, const std::string& what, bool& readInPart) {
    if (!readInPart) return true;
    auto kept = settings_.keepCopy(key);
    if (!kept) {
        tellNotSaved(what, "no copy of the stored ones could be kept: " + kept.error());
        return false;
    }
    readInPart = false;
    return true;
}

void CameraModel::applyPreviewStyle() {
    // The room is treated live only while a take would treat it too; its
    // person mask is seeded by the face, so faces are looked for meanwhile.
    backgroundPreview_->setStyle(state_.recordScreen ? std::optional(state_.bubbleStyle) : std::nullopt);
    enableFaceDetection();
}

}  // namespace lumenhollow
