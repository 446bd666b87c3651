#pragma once

// ChromeColumn: the window's controls over the picture. The top bar (a
// darkening gradient and the drag strip, which is the parent of the row of
// status and settings controls, so a press between them moves the window),
// the notice toast under it with its timeout, the tool rail at the right
// edge in rail, and the bottom area with the zoom control, the capture
// controls, the joystick and the bottom bar. Where each goes is
// chromeLayout()'s; this widget applies it on every resize, every change of
// a control's size and every notice.
//
// Controls that other views provide go into named slots (set...()); the
// column takes ownership, deletes what the slot held and lays the new one
// out. Until then a slot holds an empty glass stand-in of the control's
// size (the capture slot holds the record pill). The column's hit area is
// its controls alone (a mask), so a press anywhere else reaches what lies
// below: a panel's buttons, or the picture. A press on a control's own glass
// stops at the column and never steers the camera. The gradients and the
// toast only draw: they sit on a layer of their own just under the column
// that takes no input. The tool rail fades in and out and glides when the
// notice moves it. GUI thread only.

#include <QPointer>
#include <QWidget>

#include <array>
#include <memory>

#include "lumenhollow/ui/window/chrome_layout.h"
#include "lumenhollow/ui/window/notice_timeout.h"
#include "lumenhollow/ui/window/window_layout.h"

namespace lumenhollow {

namespace ui {
class IconButton;
class RecordPill;
class StatusPill;
}  // namespace ui

class ChromeGradient;
class ModelSignals;
class NoticeToast;
class WindowDragArea;
class WindowOps;

class ChromeColumn final : public QWidget {
    Q_OBJECT

public:
    enum class Slot { microphone, scenesButton, settingsMenu, toolRail, zoom, capture, joystick, bottomBar };
    static constexpr size_t kSlotCount = 8;
    // The rail's fade and its glide when the notice comes or goes.
    static constexpr double kRailSeconds = 0.2;

    // `model` and `ops` must outlive the column.
    ChromeColumn(ModelSignals& model, WindowOps& ops, QWidget* parent);
    ~ChromeColumn() override;

    // Installs `control` (which the column now owns) in its slot, deleting
    // what was there. Top-row controls become children of the drag strip.
    void setMicrophoneControl(QWidget* control) { install(Slot::microphone, control); }
    void setScenesButton(QWidget* control) { install(Slot::scenesButton, control); }
    void setSettingsMenu(QWidget* control) { install(Slot::settingsMenu, control); }
    void setToolRail(QWidget* control) { install(Slot::toolRail, control); }
    void setZoomControl(QWidget* control) { install(Slot::zoom, control); }
    void setCaptureControls(QWidget* control) { install(Slot::capture, control); }
    void setJoystickPad(QWidget* control) { install(Slot::joystick, control); }
    void setBottomBar(QWidget* control) { install(Slot::bottomBar, control); }
    QWidget* slotWidget(Slot slot) const { return slots_[static_cast<size_t>(slot)]; }

    WindowDragArea& dragArea() const { return *dragArea_; }
    NoticeToast& toast() const { return *toast_; }
    ui::StatusPill& statusPill() const { return *statusPill_; }
    ui::IconButton& folderButton() const { return *folderButton_; }
    ChromeGradient& topGradient() const { return *topGradient_; }
    ChromeGradient& bottomGradient() const { return *bottomGradient_; }
    // The layer under the column that holds the gradients and the toast.
    QWidget& backdrop() const { return *backdrop_; }
    // The record pill standing in the capture slot; nullptr once replaced.
    ui::RecordPill* recordPill() const;

    WidthClasses widthClasses() const { return classes_; }
    const ChromeGeometry& layoutResult() const { return geometry_; }
    // Lays everything out now (it happens by itself on resize and changes).
    void relayout();

Q_SIGNALS:
    // The width classes switched; controls that shorten follow them.
    void widthClassesChanged(lumenhollow::WidthClasses classes);
    // The widest the top row leaves the microphone control (whole pixels).
    void microphoneRoomChanged(int width);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    // What reaches the column came off a control's glass: it stops here.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void install(Slot slot, QWidget* control);
    void applyWidthClasses();
    void updateStatusPill();
    void updateRecordPill();
    void noticeChanged();
    void showNotice();
    void showRail(bool shown);
    void placeRail(const QRect& target);
    void updateHitArea();

    ModelSignals& model_;
    // A sibling under the column; deleted with the column.
    QPointer<QWidget> backdrop_;
    ChromeGradient* topGradient_;
    ChromeGradient* bottomGradient_;
    WindowDragArea* dragArea_;
    ui::StatusPill* statusPill_;
    ui::IconButton* folderButton_;
    NoticeToast* toast_;
    std::array<QWidget*, kSlotCount> slots_{};
    ui::RecordPill* recordPill_ = nullptr;
    WidthClasses classes_;
    ChromeGeometry geometry_;
    NoticeTimeout noticeTimeout_;
    int microphoneRoom_ = -1;
    bool railShown_ = false;
    bool glideRail_ = false;
    QRect railTarget_;
    QPointer<QObject> railFade_;
    QPointer<QObject> railGlide_;
};

}  // namespace lumenhollow
