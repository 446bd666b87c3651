#pragma once

// UsbGuideSheet: how to connect the camera with a USB-C cable, while it
// watches for the camera: once found, the footer says so, and a moment
// later the model switches to USB and the sheet closes. "Not Now" (or
// Escape) only closes it while it waits; in the pause after the find it
// makes the switch at once, as does the window closing then. Closed by the
// model (the quit request closes every sheet) it switches nothing.
// GUI thread only.

#include <memory>

#include "lumenhollow/ui/window/sheet_card.h"
#include "lumenhollow/ui/window/usb_guide_watch.h"

class QLabel;
class QPushButton;

namespace lumenhollow {

class CameraModel;
class SheetBadge;

namespace ui {
class Spinner;
}

class UsbGuideSheet final : public SheetCard {
    Q_OBJECT

public:
    static constexpr int kPadding = 24;
    static constexpr int kSpacing = 20;
    static constexpr int kHeaderCircle = 44;
    static constexpr double kHeaderSymbolPx = 22;
    static constexpr double kHeaderCircleOpacity = 0.15;
    static constexpr int kStepBadge = 24;
    static constexpr double kStepTitlePx = 13.5;

    // The first look for the camera happens here.
    UsbGuideSheet(std::shared_ptr<CameraModel> model, QWidget* parent);

    void acceptAction() override;
    void cancelAction() override;
    void disappeared() override;

    bool isDetected() const { return watch_.isDetected(); }
    QString footerText() const;

private:
    void showFooter();
    void switchToUSB();

    std::shared_ptr<CameraModel> model_;
    ui::Spinner* spinner_;
    SheetBadge* check_;
    QLabel* footer_;
    QPushButton* notNow_;
    UsbGuideWatch watch_;
};

}  // namespace lumenhollow
