#pragma once

// MicrophoneControl: the top bar's capsule that says which microphone the
// next recording hears and lets the user change it. Over USB it lists the
// camera's microphones and, while one is active, shows the sound level
// beside them; over Wi-Fi it lists this computer's inputs, read again each
// time that face comes on screen. Each menu is rebuilt only when what it
// shows changes, not on every change of the model. GUI thread; `model` must
// outlive the control.

#include <optional>
#include <string>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/panels/microphone_faces.h"

namespace lumenhollow {

class LevelMeter;
class MicrophoneMenuButton;
class ModelSignals;

class MicrophoneControl final : public ui::GlassSurface {
    Q_OBJECT
public:
    static constexpr int kMeterSegments = 12;
    static constexpr int kMeterSpacing = 8;
    static constexpr int kMeterTrailing = 12;

    MicrophoneControl(ModelSignals& model, bool compact, QWidget* parent);

    // The narrow name, without the "AUTO" badge.
    void setCompact(bool compact);
    // The widest the top row leaves the control. With less room than its
    // face needs it takes the narrow face, then leaves out the level meter
    // (a read-out), then shortens the name further.
    void setRoom(int width);
    bool isWirelessFace() const { return wireless_; }
    MicrophoneMenuButton& menuButton() const { return *button_; }
    LevelMeter& meter() const { return *meter_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void refreshInputs();
    void showCameraFace();
    void showWirelessFace();
    // Shows `label` (or, short of room, `narrow`) and the meter when asked
    // for, within the room.
    void showFitted(MicrophoneLabel label, const MicrophoneLabel& narrow, bool meter);

    ModelSignals& model_;
    bool compact_;
    int room_ = QWIDGETSIZE_MAX;
    bool wireless_ = false;
    MicrophoneMenuButton* button_;
    LevelMeter* meter_;
    // What each menu was last built from; nothing: not built for this face.
    std::optional<MicrophoneSnapshot> cameraShown_;
    bool cameraShownCompact_ = false;
    int shownRoom_ = QWIDGETSIZE_MAX;
    std::optional<WirelessMicrophoneSnapshot> wirelessShown_;
    // Read with the inputs, when the Wi-Fi face comes on screen.
    std::optional<std::string> defaultInputName_;
};

}  // namespace lumenhollow
