#pragma once

// IslandExpandedView: the open island's content: the header in the notch's
// row (the live dot and title, the battery and the route), the live picture
// (IslandPreview) and the controls, as a grid beside a tall picture or a row
// under a wide one or alone. What it shows comes from the plain rules of
// island_content.h and island_controls.h; every control calls one model
// operation or the controller. GUI thread only.

#include <QFont>
#include <QString>
#include <QWidget>

#include <array>
#include <optional>

#include "lumenhollow/ui/island/island_content.h"
#include "lumenhollow/ui/island/island_controls.h"
#include "lumenhollow/ui/island/island_glyphs.h"

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

    // Reads the model and the island's state again and lays the content out.
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
    IslandButton* makeButton(IslandControl kind, QWidget* parent);
    void act(IslandControl kind, int sceneIndex);
    void reconnect();

    NotchPanelController& controller_;
    ModelSignals& model_;
    IslandPreview* preview_;
    RecordButton* record_;
    std::array<IslandButton*, 8> buttons_{};  // photo ... zoom out, pin, main window
    std::array<IslandButton*, 3> chips_{};
    ZoomStepper* stepper_;
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
