#pragma once

// ToolRail: the column of round glass tools on the right edge of the preview
// while the window is too narrow for the bottom bar to carry them, all in
// one glass capsule. From the top: the guide and look menus (tinted while a
// guide is on or a look is chosen), auto frame (the USB-only marker on a
// camera that cannot be positioned), centre, flip, scenes, the output folder
// and full screen. Everything shown follows the model at each change
// (toolRailState). Placed by the window chrome. GUI thread; `model` must
// outlive the rail.

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/window/bar_state.h"

namespace lumenhollow {

class ModelSignals;
class RailMenu;
class ScenesButton;
class ToolActions;

namespace ui {
class UsbOnlyIconButton;
}  // namespace ui

class ToolRail final : public ui::GlassSurface {
    Q_OBJECT
public:
    static constexpr int kSpacing = 6;
    static constexpr int kInset = 6;

    // `size` is the diameter of the plain buttons; the two menus are always
    // RailMenu::kSize. The tools are faces of `tools`' actions and menus,
    // which outlive the rail.
    ToolRail(ModelSignals& model, ToolActions& tools, int size, QWidget* parent);

    const ToolRailState& state() const { return state_; }

    RailMenu& guideMenu() const { return *guideMenu_; }
    RailMenu& lookMenu() const { return *lookMenu_; }
    ui::IconButton& autoFrameButton() const { return *autoFrame_; }
    ui::UsbOnlyIconButton& autoFrameMarker() const { return *autoFrameMarker_; }
    ui::IconButton& centreButton() const { return *centre_; }
    ui::IconButton& flipButton() const { return *flip_; }
    ScenesButton& scenesButton() const { return *scenes_; }
    ui::IconButton& outputFolderButton() const { return *outputFolder_; }
    ui::IconButton& fullScreenButton() const { return *fullScreen_; }

private:
    void refresh();
    void apply(const ToolRailState& state);

    ModelSignals& model_;
    ToolRailState state_;
    bool applied_ = false;

    RailMenu* guideMenu_;
    RailMenu* lookMenu_;
    ui::IconButton* autoFrame_;
    ui::UsbOnlyIconButton* autoFrameMarker_;
    ui::IconButton* centre_;
    ui::IconButton* flip_;
    ScenesButton* scenes_;
    ui::IconButton* outputFolder_;
    ui::IconButton* fullScreen_;
};

}  // namespace lumenhollow
