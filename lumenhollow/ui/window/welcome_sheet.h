#pragma once

// WelcomeSheet: the first launch's greeting: what the application is, the
// four things to know, a privacy line, and two ways out. Whenever it goes
// (either button, Escape, the quit request, the window closing) it stores
// "welcomed", so later launches skip it. "Keyboard Shortcuts" opens the
// shortcuts sheet a moment after this one has gone, never both at once.
// GUI thread only.

#include <QPixmap>

#include <chrono>
#include <memory>

#include "lumenhollow/ui/window/sheet_card.h"

class QPushButton;

namespace lumenhollow {

class CameraModel;

// The application's icon, `size` logical pixels square at `devicePixelRatio`
// device pixels to each; until one is installed, a drawn stand-in (the
// accent tile with the camera glyph) so the header keeps its shape.
QPixmap welcomeIcon(int size, qreal devicePixelRatio);

class WelcomeSheet final : public SheetCard {
    Q_OBJECT

public:
    static constexpr int kPadding = 26;
    static constexpr int kSpacing = 22;
    static constexpr int kIconSize = 64;
    static constexpr int kRowSpacing = 16;
    static constexpr int kSymbolCircle = 32;
    static constexpr double kSymbolPx = 15;
    static constexpr double kSymbolCircleOpacity = 0.13;
    // The shortcuts sheet opens this long after this one was dismissed.
    static constexpr std::chrono::milliseconds kShortcutsDelay{300};

    WelcomeSheet(std::shared_ptr<CameraModel> model, QWidget* parent);

    void acceptAction() override;
    void cancelAction() override;
    void disappeared() override;

private:
    void showShortcuts();

    std::shared_ptr<CameraModel> model_;
    QPushButton* start_;
    bool gone_ = false;
};

}  // namespace lumenhollow
