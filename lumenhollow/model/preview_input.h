#pragma once

// PreviewInput: what the keyboard, the mouse and the scroll wheel over a
// live preview, and the joystick pad, do to the camera model. The main
// window's preview and the notch island's each own one and translate their
// toolkit's events into the plain structs below; the rules (key repeats,
// focus loss, the drag's start position, precise scroll deltas) live here
// once. Holds the model weakly: once it is gone, input does nothing, and
// the keys that belong to the preview are still consumed.
//
// Scene recall and Escape are handed to hooks set by the owner.
//
// Main executor only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "lumenhollow/model/model_types.h"

namespace lumenhollow {

class CameraModel;

// The keys the preview tells apart by key rather than by character.
enum class PreviewKey : uint8_t { none, up, down, left, right, escape };

struct PreviewKeyEvent {
    PreviewKey key = PreviewKey::none;
    // The characters of the key without modifiers ("1" with Alt held, "c"
    // with Shift held); empty when it gives none.
    std::string text;
    bool alt = false;
    // A repeat the system sends while the key stays down (press or release).
    bool autoRepeat = false;
};

// A pointer position over the preview in points, origin at the top left,
// y growing downwards.
struct PreviewPoint {
    double x = 0;
    double y = 0;

    bool operator==(const PreviewPoint&) const = default;
};

struct PreviewWheelEvent {
    // Vertical scroll, positive away from the user: lines for a notched
    // wheel, points when `precise` (a touchpad or a high-resolution wheel).
    double deltaY = 0;
    bool precise = false;
};

class PreviewInput {
public:
    struct Hooks {
        std::function<void(int sceneIndex)> recallScene;  // 0 for the first scene
        std::function<void()> escape;
    };

    // A precise scroll delta counts this many times less than a line.
    static constexpr double kPreciseScrollDivisor = 6.0;

    explicit PreviewInput(std::weak_ptr<CameraModel> model, Hooks hooks = {});

    // True when the key is the preview's; false passes it on.
    bool keyPressed(const PreviewKeyEvent& event);
    bool keyReleased(const PreviewKeyEvent& event);
    // The preview no longer has the keyboard: nothing stays held.
    void focusLost();

    void mousePressed(PreviewPoint at);
    // `viewWidth` in points.
    void mouseDragged(PreviewPoint at, double viewWidth);
    void mouseReleased();
    bool isDragging() const { return dragOrigin_.has_value(); }

    void wheel(const PreviewWheelEvent& event);

    // The joystick pad: its arrow buttons act like the arrow keys; the knob
    // sets a speed by its deflection and stops the gimbal when let go.
    void directionButton(GimbalDirection direction, bool pressed);
    void knobMoved(double x, double y);
    void knobReleased();

private:
    void pressDirection(CameraModel& model, GimbalDirection direction);
    static std::optional<GimbalDirection> directionOf(PreviewKey key);

    const std::weak_ptr<CameraModel> model_;
    const Hooks hooks_;
    std::optional<PreviewPoint> dragOrigin_;
};

}  // namespace lumenhollow
