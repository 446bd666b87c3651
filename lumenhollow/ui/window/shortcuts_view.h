#pragma once

// ShortcutsView: the sheet that lists the keyboard and mouse shortcuts in
// four sections, each key on a grey chip in a column of one width so every
// action text starts at the same x, with a default "Done" button. Done,
// Return and Escape clear the model's showShortcuts, which closes it. It
// only shows text and keeps no state between presentations. GUI thread only.

#include <memory>

#include "lumenhollow/ui/window/sheet_card.h"

class QLabel;
class QPushButton;

namespace lumenhollow {

class CameraModel;

class ShortcutsView final : public SheetCard {
    Q_OBJECT

public:
    static constexpr int kWidth = 420;
    static constexpr int kPadding = 24;
    static constexpr int kSpacing = 16;
    static constexpr int kSectionSpacing = 6;
    static constexpr int kRowSpacing = 8;
    static constexpr double kChipPx = 12;
    static constexpr int kChipRadius = 4;

    ShortcutsView(std::shared_ptr<CameraModel> model, QWidget* parent);

    int cardWidth() const override { return kWidth; }
    void acceptAction() override;
    void cancelAction() override;

    // The chips and action texts in display order, for checking their places.
    const std::vector<QLabel*>& chips() const { return chips_; }
    const std::vector<QLabel*>& actions() const { return actions_; }

private:
    void dismiss();

    std::shared_ptr<CameraModel> model_;
    QPushButton* done_ = nullptr;
    std::vector<QLabel*> chips_;
    std::vector<QLabel*> actions_;
};

}  // namespace lumenhollow
