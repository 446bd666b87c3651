#pragma once

// MainWindow: the application's one window. Its central widget is the video
// surface, the root of the composition; its children, back to front: the
// overlay layer (covering the picture's rectangle, never taking input, with
// the guides and the face box), the status panels and the countdown
// (PreviewOverlays places them), the chrome's backdrop (gradients and toast,
// taking no input), the chrome layer (the whole window, with the drag strip
// at its top, hit only on its controls), and the sheet host over everything.
// The minimum content size follows the picture's orientation. GUI thread
// only.
//
// MainWindowOpener keeps at most one window: it opens a new one when the
// last was closed (the model's showMainWindow), and brings an open one
// forward for the application shell.

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "lumenhollow/model/preview_input.h"
#include "lumenhollow/ui/window/window_drag_area.h"
#include "lumenhollow/ui/window/window_layout.h"

namespace lumenhollow {

class ChromeColumn;
class LiveBackdrop;
class ModelSignals;
class PreviewOverlays;
class SheetHost;
class ToolActions;
class VideoFeed;
class VideoSurface;

class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kDefaultWidth = 1152;
    static constexpr int kDefaultHeight = 648;
    // The diameter of the tool rail's buttons.
    static constexpr int kRailButtonSize = 34;

    // `model` and `feed` must outlive the window.
    MainWindow(ModelSignals& model, VideoFeed& feed, QWidget* parent = nullptr);
    ~MainWindow() override;

    VideoSurface& surface() const { return *surface_; }
    QWidget& overlayLayer() const { return *overlays_; }
    QWidget& chromeLayer() const;
    ChromeColumn& chrome() const { return *chrome_; }
    WindowDragArea& dragArea() const;
    PreviewOverlays& previewOverlays() const { return *previewOverlays_; }
    SheetHost& sheets() const { return *sheets_; }
    // The one action per tool that the bottom bar and the tool rail share.
    ToolActions& toolActions() const { return *toolActions_; }
    // The blurred picture the glass over the video shows.
    LiveBackdrop& glassBackdrop() const { return *backdrop_; }
    // Offers the frame the surface shows now to the glass (done for each
    // frame the surface takes from its feed).
    void offerFrameToGlass();
    PreviewInput& input() { return input_; }
    // Replaces the window operations the drag strip uses (tests).
    void setWindowOps(std::unique_ptr<WindowOps> ops);

    WidthClasses widthClasses() const;
    RectF pictureRect() const;
    // The first size: the picture's part kDefaultWidth x kDefaultHeight, a
    // menu bar that sits in the window on top of it. Again after a menu bar
    // comes.
    void resizeToDefault();

    // The controls Tab goes through, in its order: the picture first, then
    // every control shown over it that the keyboard can press, as read.
    std::vector<QWidget*> keyboardStops() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    class ForwardingOps;

    // The bottom bar, the tool rail and the scenes button, in the chrome's slots.
    void installControls();
    // The glass takes its picture from each frame the surface has taken.
    void feedGlassBackdrop(VideoFeed& feed);
    void layoutLayers();
    void updateMinimumSize();

    ModelSignals& model_;
    PreviewInput input_;
    std::unique_ptr<WindowOps> ops_;
    std::unique_ptr<ForwardingOps> forwardingOps_;
    VideoSurface* surface_;
    QWidget* overlays_;
    ChromeColumn* chrome_;
    SheetHost* sheets_;
    PreviewOverlays* previewOverlays_;
    ToolActions* toolActions_ = nullptr;
    LiveBackdrop* backdrop_ = nullptr;
    // The orientation the minimum size was last set for.
    std::optional<bool> minimumPortrait_;
};

// Escape cancels the countdown and Alt with a digit recalls a scene; both
// hold the model weakly.
PreviewInput::Hooks previewHooks(std::weak_ptr<CameraModel> model);

class MainWindowOpener final : public QObject {
    Q_OBJECT

public:
    // `model` and `feed` must outlive the opener. Registers itself as the
    // model's way to open the main window.
    MainWindowOpener(ModelSignals& model, VideoFeed& feed, QObject* parent = nullptr);
    ~MainWindowOpener() override;

    // Shows the window (a new one when none is open), raised and active.
    void open();
    // Raises an open, visible window; false when there is none.
    bool bringForward();
    MainWindow* window() const { return window_; }

Q_SIGNALS:
    void windowOpened(lumenhollow::MainWindow* window);

private:
    ModelSignals& model_;
    VideoFeed& feed_;
    QPointer<MainWindow> window_;
};

}  // namespace lumenhollow
