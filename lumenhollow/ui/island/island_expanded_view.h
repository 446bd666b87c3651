#pragma once

// IslandExpandedView: the open island's content: the header in the notch's
// row (the live dot and title, the battery and the route), the live picture
// (IslandPreview) and the controls, as a grid beside a tall picture or a row
// under a wide one or alone. What it shows comes from the plain rules of
// island_content.h and island_controls.h; every control calls one model
// operation or the controller. It follows the model only while active (the
// island open); each control is changed in place and only where what it
// shows differs, so a tooltip or a press on it survives other changes.
// GUI thread only.

#include <QFont>
#include <QString>
#include <QWidget>

#include <array>
#include <optional>

#include "lumenhollow/ui/island/island_content.h"
#include "lumenhollow/ui/island/island_controls.h"
#include "lumenhollow/ui/island/island_glyphs.h"
#include "lumenhollow/ui/island/notch_geometry.h"
#include "lumenhollow/ui/kit/model_fields.h"

namespace lumenhollow {
class ModelSignals;
class VideoFeed;
}  // namespace lumenhollow

namespace lumenhollow::ui {

class IslandButton;
class IslandPreview;
class NotchPanelController;
class RecordButton;
class ZoomStepper;

class IslandExpandedView final : public QWidget {
    Q_OBJECT
public:
    IslandExpandedView(NotchPanelController& controller, ModelSignals& model, VideoFeed* feed, QWidget* parent);

    // The fields the content shows (the face's box has its own).
    static constexpr FieldList<13> kFields{
        Field::stats,     Field::failure,      Field::statusText,        Field::battery,
        Field::connection, Field::recordingStarted, Field::faceTracking, Field::zoomRange,
        Field::zoom,      Field::scenes,       Field::notchContent,      Field::settledResolution,
        Field::activeFormat,
    };

    // Active, the content follows the model; becoming active brings it up
    // to date at once.
    void setActive(bool active);
    bool isActive() const { return active_; }
    // Reads the model and the island's state again and changes what differs.
    void refresh();
    void setBadge(const std::optional<QString>& elapsed, double dotOpacity);

    IslandPreview& preview() const { return *preview_; }
    RecordButton& recordButton() const { return *record_; }
    ZoomStepper& zoomStepper() const { return *stepper_; }
    // The widget of a control kind (chips by their index); none for the spacer.
    QWidget* control(IslandControl kind, int sceneIndex = 0) const;
    const std::vector<IslandControlItem>& items() const { return items_; }
    const IslandExpandedLayout& layout() const { return layout_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Everything the content is laid out and drawn from.
    struct Inputs {
        QSize size;
        NotchGeometry geometry;
        NotchContent content = NotchContent::preview;
        double aspect = 0;
        IslandHeaderTitle title;
        std::optional<hollowkit::BatteryStatus> battery;
        const char* connectionSymbol = nullptr;
        IslandStatusOverlay status;
        QString statusText;
        IslandControlInputs controls;
        QString zoomLabel;
        bool operator==(const Inputs&) const = default;
    };

    IslandButton* makeButton(IslandControl kind, QWidget* parent);
    void act(IslandControl kind, int sceneIndex);
    void reconnect();
    void apply(const Inputs& in);
    void placeControls();
    void followFace();

    NotchPanelController& controller_;
    ModelSignals& model_;
    IslandPreview* preview_;
    RecordButton* record_;
    std::array<IslandButton*, 8> buttons_{};  // photo ... zoom out, pin, main window
    std::array<IslandButton*, 3> chips_{};
    ZoomStepper* stepper_;
    bool active_ = false;
    std::optional<Inputs> shown_;
    std::vector<IslandControlItem> items_;
    IslandExpandedLayout layout_;
    // The header, measured once per change.
    IslandHeaderTitle title_;
    QString titleShown_;
    QFont titleFont_;
    std::optional<BatteryGlyph> battery_;
    const char* connectionSymbol_ = "wifi";
};

}  // namespace lumenhollow::ui
