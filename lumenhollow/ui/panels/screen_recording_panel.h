#pragma once

// ScreenRecordingPanel: the content of the screen-recording popover. The
// "Record Screen and Camera" switch, the permission card while the screen
// may not be recorded, the camera's corner, shape, size and background, the
// display, automatic zoom and the computer's sound, the Wi-Fi microphone
// note, and the block that rebuilds the last take's combined movie or
// another take's. Everything under the switch scrolls where the popover's
// screen is too short for all of it. Everything shown is read from the
// model through screenPanel(); every control writes the model or calls it.
// GUI thread.

#include <QWidget>

#include <filesystem>
#include <optional>
#include <vector>

#include "lumenhollow/ui/panels/screen_recording_state.h"

class QCheckBox;
class QComboBox;
class QGraphicsOpacityEffect;
class QLabel;
class QPushButton;

namespace lumenhollow {

class CornerPicker;
class ModelSignals;
class ScreenPermissionCard;

namespace ui {
class PopoverScrollArea;
class SegmentedControl;
class SwitchButton;
class SymbolLabel;
}  // namespace ui

class ScreenRecordingPanel final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 360;
    static constexpr int kPadding = 16;
    static constexpr int kSpacing = 14;

    // `model` must outlive the panel.
    ScreenRecordingPanel(ModelSignals& model, QWidget* parent);

    const ScreenPanelState& shown() const { return shown_; }
    double optionsOpacity() const;

    ui::SwitchButton& recordSwitch() const { return *switch_; }
    ScreenPermissionCard& permissionCard() const { return *card_; }
    QWidget& optionsRow() const { return *options_; }
    CornerPicker& cornerPicker() const { return *corner_; }
    ui::SegmentedControl& shapePicker() const { return *shape_; }
    ui::SegmentedControl& sizePicker() const { return *size_; }
    ui::SegmentedControl& backgroundPicker() const { return *background_; }
    QComboBox& displayMenu() const { return *display_; }
    QCheckBox& autoZoomBox() const { return *autoZoom_; }
    QCheckBox& macSoundBox() const { return *macSound_; }
    ui::SymbolLabel& microphoneNote() const { return *microphoneNote_; }
    QWidget& rebuildBlock() const { return *rebuild_; }
    QLabel& takeLabel() const { return *takeLabel_; }
    QPushButton& applyButton() const { return *apply_; }
    QPushButton& rebuildAnotherButton() const { return *rebuildAnother_; }
    // What lies under the switch, scrolling where the screen is too short.
    ui::PopoverScrollArea& scrollingPart() const { return *scroll_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeSwitchRow();
    QWidget* makeOptionsRow();
    QWidget* makeRebuildBlock();
    void refresh();
    void refreshDisplayMenu();
    void writeBubble(int shape, int size, int background);

    ModelSignals& model_;
    QWidget* switchRow_ = nullptr;
    ui::PopoverScrollArea* scroll_ = nullptr;
    QWidget* body_ = nullptr;
    ui::SwitchButton* switch_ = nullptr;
    ScreenPermissionCard* card_ = nullptr;
    QWidget* options_ = nullptr;
    QGraphicsOpacityEffect* optionsOpacity_ = nullptr;
    CornerPicker* corner_ = nullptr;
    ui::SegmentedControl* shape_ = nullptr;
    ui::SegmentedControl* size_ = nullptr;
    QWidget* backgroundGroup_ = nullptr;
    ui::SegmentedControl* background_ = nullptr;
    QLabel* cutoutCaption_ = nullptr;
    QComboBox* display_ = nullptr;
    QCheckBox* autoZoom_ = nullptr;
    QCheckBox* macSound_ = nullptr;
    ui::SymbolLabel* microphoneNote_ = nullptr;
    QWidget* rebuild_ = nullptr;
    QLabel* takeLabel_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* rebuildAnother_ = nullptr;

    ScreenPanelState shown_;
    std::vector<DisplayMenuItem> displayItems_;
    // The take the block names, so "Apply Changes" rebuilds what was shown.
    std::optional<std::filesystem::path> shownTake_;
};

}  // namespace lumenhollow
