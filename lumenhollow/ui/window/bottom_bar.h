#pragma once

// BottomBar: the glass bar at the foot of the main window. The connection
// cluster (the route menu, then the format menu or, on a camera with its own
// settings, the camera settings button) sits centred over the tool cluster
// (the guide and look menus at the left, full screen, auto frame, centre and
// flip at the right). In rail mode the rail carries the tools and the bar
// holds the connection cluster alone. Everything shown follows the model at
// each change (bottomBarState); every choice calls the model or the active
// camera at once; the tools are the window's shared actions (ToolActions).
// Placed by the window chrome, which sets compact and rail
// mode. GUI thread; `model` must outlive the bar.

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/window/bar_state.h"

namespace lumenhollow {

class CameraSettingsButton;
class ModelSignals;
class ToolActions;

namespace ui {
class PillMenu;
class UsbOnlyIconButton;
}  // namespace ui

class BottomBar final : public ui::GlassSurface {
    Q_OBJECT
public:
    static constexpr int kHeight = 50;
    static constexpr int kCornerRadius = 25;
    static constexpr int kSideInset = 10;
    static constexpr int kSpacing = 8;
    static constexpr int kToolSize = 32;

    // The tools are faces of `tools`' actions and menus, which outlive the bar.
    BottomBar(ModelSignals& model, ToolActions& tools, QWidget* parent);

    void setCompact(bool compact);
    void setRailMode(bool railMode);
    const BottomBarState& state() const { return state_; }

    ui::PillMenu& connectionMenu() const { return *connectionMenu_; }
    ui::PillMenu& formatMenu() const { return *formatMenu_; }
    CameraSettingsButton& cameraSettingsButton() const { return *settingsButton_; }
    QWidget& connectionCluster() const { return *connection_; }
    QWidget& toolCluster() const { return *tools_; }
    ui::PillMenu& guideMenu() const { return *guideMenu_; }
    ui::PillMenu& lookMenu() const { return *lookMenu_; }
    ui::IconButton& fullScreenButton() const { return *fullScreen_; }
    ui::IconButton& autoFrameButton() const { return *autoFrame_; }
    ui::UsbOnlyIconButton& autoFrameMarker() const { return *autoFrameMarker_; }
    ui::IconButton& centreButton() const { return *centre_; }
    ui::IconButton& flipButton() const { return *flip_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    void apply(const BottomBarState& state);
    void placeClusters();

    ModelSignals& model_;
    bool compact_ = false;
    bool railMode_ = false;
    BottomBarState state_;
    bool applied_ = false;

    QWidget* tools_;
    ui::PillMenu* guideMenu_;
    ui::PillMenu* lookMenu_;
    ui::IconButton* fullScreen_;
    ui::IconButton* autoFrame_;
    ui::UsbOnlyIconButton* autoFrameMarker_;
    ui::IconButton* centre_;
    ui::IconButton* flip_;

    QWidget* connection_;
    ui::PillMenu* connectionMenu_;
    ui::PillMenu* formatMenu_;
    CameraSettingsButton* settingsButton_;
};

}  // namespace lumenhollow
