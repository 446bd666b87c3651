#pragma once

// NotchPanelController: places and drives the notch island. It owns the
// panel and its view, holds the island's state (expanded, pinned, geometry),
// opens the island on hover (after 0.12 s) or click and closes it 0.45 s
// after the pointer leaves unless pinned, lets clicks through the panel
// everywhere but over the island, follows "showInNotch" and the screens, and
// keeps the model's notchPreviewActive true exactly while the island is open
// on the live preview. The pointer is watched only while the island is
// shown. One per application; GUI thread (main executor) only.
// Delays run on the main executor, so tests drive them on virtual time.

#include <QObject>
#include <QRect>
#include <QSize>

#include <memory>
#include <optional>

#include "hollowkit/base/executor.h"
#include "lumenhollow/ui/island/island_platform.h"
#include "lumenhollow/ui/island/notch_geometry.h"
#include "lumenhollow/ui/kit/model_fields.h"

namespace lumenhollow {
class ModelSignals;
class VideoFeed;
}  // namespace lumenhollow

namespace lumenhollow::ui {

class NotchPanel;
class NotchView;

struct NotchState {
    bool expanded = false;
    bool pinned = false;
    NotchGeometry geometry;
};

class NotchPanelController final : public QObject {
    Q_OBJECT
public:
    static constexpr auto kExpandDelay = std::chrono::milliseconds(120);
    static constexpr auto kCollapseDelay = std::chrono::milliseconds(450);

    struct Platform {
        ScreenSource& screens;
        PointerSource& pointer;
        IslandWindowMode windowMode = IslandWindowMode::translucent;
        // Borrowed; none means the panel's own window.
        PanelInput* input = nullptr;
        // The model's island sink, which the open preview paints; none shows no picture.
        VideoFeed* feed = nullptr;
        // Borrowed; when set, the panel follows its mode from the start on.
        WindowModeSource* windowModes = nullptr;
    };

    NotchPanelController(ModelSignals& model, hollowkit::MainExecutor& main, Platform platform,
                         QObject* parent = nullptr);
    ~NotchPanelController() override;
    NotchPanelController(const NotchPanelController&) = delete;
    NotchPanelController& operator=(const NotchPanelController&) = delete;

    const NotchState& state() const { return state_; }
    // A tap on the collapsed island: opens it with the click trigger.
    void islandTapped();
    // The pin: while on, the open island stays open when the pointer leaves.
    void togglePinned();
    // The island's size for the current geometry, content and picture aspect.
    QSize islandSize(bool expanded) const;
    // The fields that size is read from (the picture's aspect comes from the
    // settled resolution, else the active format).
    static constexpr FieldList<3> kSizeFields{Field::notchContent, Field::settledResolution, Field::activeFormat};

    bool isShown() const;
    QRect panelFrame() const { return panelFrame_; }
    // The island's rectangle in global coordinates, as the hover test sees it.
    QRect islandRect() const { return islandRectInPanel(panelFrame_, islandSize(state_.expanded)); }
    NotchPanel& panel() const { return *panel_; }
    NotchView& view() const { return *view_; }
    PanelInput& input() const { return *input_; }
    PointerSource& pointer() const { return pointer_; }

Q_SIGNALS:
    // `animated` false when hiding closed the island at once.
    void expandedChanged(bool animated);
    void pinnedChanged();
    void geometryChanged();

private:
    void reposition();
    void queueReposition();
    void setVisible(bool visible);
    void applyVisibility();
    void bringForward();
    void updatePreviewActive();
    void updateHover();
    void updateInputArea();
    void schedule(hollowkit::TaskId& slot, std::chrono::milliseconds delay, bool expand);
    void cancel(hollowkit::TaskId& slot);
    void setExpanded(bool expanded);

    ModelSignals& model_;
    hollowkit::MainExecutor& main_;
    ScreenSource& screens_;
    PointerSource& pointer_;
    NotchState state_;
    std::unique_ptr<NotchPanel> panel_;
    NotchView* view_ = nullptr;  // owned by the panel
    std::unique_ptr<PanelInput> ownInput_;
    PanelInput* input_ = nullptr;
    QRect panelFrame_;
    std::optional<bool> shownSetting_;  // the last "showInNotch" acted on
    bool hasScreen_ = true;
    bool repositionQueued_ = false;
    hollowkit::TaskId pendingExpand_ = 0;
    hollowkit::TaskId pendingCollapse_ = 0;
};

}  // namespace lumenhollow::ui
