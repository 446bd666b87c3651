#include "lumenhollow/model/preview_input.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

namespace {

// The characters as a decimal integer: an optional sign, then digits only.
std::optional<int> decimalNumber(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return negative ? -value : value;
}

bool isRecentreKey(const std::string& text) {
    return text.size() == 1 && std::tolower(static_cast<unsigned char>(text[0])) == 'c';
}

}  // namespace

PreviewInput::PreviewInput(std::weak_ptr<CameraModel> model, Hooks hooks)
    : model_(std::move(model)), hooks_(std::move(hooks)) {}

std::optional<GimbalDirection> PreviewInput::directionOf(PreviewKey key) {
    switch (key) {
        case PreviewKey::up: return GimbalDirection::up;
        case PreviewKey::down: return GimbalDirection::down;
        case PreviewKey::left: return GimbalDirection::left;
        case PreviewKey::right: return GimbalDirection::right;
        case PreviewKey::none:
        case PreviewKey::escape: break;
    }
    return std::nullopt;
}

void PreviewInput::pressDirection(CameraModel& model, GimbalDirection direction) {
    model.pauseFollowerForManualInput();
    model.holdDirection(direction);
    model.applyHeldDirections();
}

bool PreviewInput::keyPressed(const PreviewKeyEvent& event) {
    const std::shared_ptr<CameraModel> model = model_.lock();
    // A held arrow is one press and one release, however many repeats come.
    if (const std::optional<GimbalDirection> direction = directionOf(event.key)) {
        if (model && !event.autoRepeat) pressDirection(*model, *direction);
        return true;
    }
    if (event.key == PreviewKey::escape) {
        if (hooks_.escape) hooks_.escape();
        return true;
    }
    if (event.alt && !event.text.empty()) {
        const std::optional<int> number = decimalNumber(event.text);
        if (number && *number >= 1 && *number <= 9) {
            if (hooks_.recallScene) hooks_.recallScene(*number - 1);
            return true;
        }
    }
    if (isRecentreKey(event.text)) {
        if (model && !event.autoRepeat) model->camera().gimbal().requestRecenter();
        return true;
    }
    // Zoom keys repeat while held; "=" is "+" without Shift.
    const int zoomSteps = event.text == "+" || event.text == "=" ? 1 : event.text == "-" ? -1 : 0;
    if (zoomSteps != 0) {
        if (model) model->zoomStep(zoomSteps);
        return true;
    }
    return false;
}

bool PreviewInput::keyReleased(const PreviewKeyEvent& event) {
    const std::optional<GimbalDirection> direction = directionOf(event.key);
    if (!direction) return false;
    const std::shared_ptr<CameraModel> model = model_.lock();
    if (model && !event.autoRepeat) {
        model->releaseDirection(*direction);
        model->applyHeldDirections();
    }
    return true;
}

void PreviewInput::focusLost() {
    // Another view has the keyboard and will never report these releases.
    const std::shared_ptr<CameraModel> model = model_.lock();
    if (!model) return;
    model->releaseAllDirections();
    model->applyHeldDirections();
}

void PreviewInput::mousePressed(PreviewPoint at) {
    dragOrigin_ = at;
    const std::shared_ptr<CameraModel> model = model_.lock();
    if (!model) return;
    // Without a start position the drag sets speeds instead of aiming.
    hollowkit::PocketCamera& camera = model->camera();
    model->startDrag(camera.supportsPositioning() ? camera.currentPosition() : std::nullopt);
}

void PreviewInput::mouseDragged(PreviewPoint at, double viewWidth) {
    // A drag that began outside the preview is not the preview's.
    if (!dragOrigin_) return;
    const std::shared_ptr<CameraModel> model = model_.lock();
    if (!model) return;
    // The model counts dy upward.
    model->dragGimbal(at.x - dragOrigin_->x, dragOrigin_->y - at.y, viewWidth);
}

void PreviewInput::mouseReleased() {
    if (!dragOrigin_) return;
    dragOrigin_.reset();
    const std::shared_ptr<CameraModel> model = model_.lock();
    if (!model) return;
    model->endDrag();
}

void PreviewInput::wheel(const PreviewWheelEvent& event) {
    const std::shared_ptr<CameraModel> model = model_.lock();
    if (!model) return;
    model->scrollZoom(event.precise ? event.deltaY / kPreciseScrollDivisor : event.deltaY);
}

void PreviewInput::directionButton(GimbalDirection direction, bool pressed) {
    const std::shared_ptr<CameraModel> model = model_.lock();
    if (!model) return;
    if (pressed) {
        pressDirection(*model, direction);
        return;
    }
    model->releaseDirection(direction);
    model->applyHeldDirections();
}

void PreviewInput::knobMoved(double x, double y) {
    if (const std::shared_ptr<CameraModel> model = model_.lock()) model->joystick(x, y);
}

void PreviewInput::knobReleased() {
    if (const std::shared_ptr<CameraModel> model = model_.lock()) model->stopGimbal();
}

}  // namespace lumenhollow
