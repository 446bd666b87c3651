#pragma once

// ScreenPermissionCard: the card at the top of the screen-recording panel
// while the screen may not be recorded. "How to Allow Recording" asks for
// access again and, there being no settings page that grants it on Linux,
// shows in the card what the user can do instead; "Reopen Lumenhollow"
// quits and starts the application again, so a newly reachable screen is
// picked up. The panel decides whether the card is there. GUI thread.

#include <QWidget>

class QLabel;
class QPushButton;

namespace lumenhollow {

class ModelSignals;

class ScreenPermissionCard final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPadding = 12;
    static constexpr int kSpacing = 10;
    static constexpr double kCornerRadius = 10;
    static constexpr double kFillOpacity = 0.12;

    // `model` must outlive the card.
    ScreenPermissionCard(ModelSignals& model, QWidget* parent);

    QPushButton& settingsButton() const { return *settings_; }
    QPushButton& reopenButton() const { return *reopen_; }
    // The help shown in place of the settings page, once asked for.
    const QLabel& helpLabel() const { return *help_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void openPrivacySettings();

    ModelSignals& model_;
    QPushButton* settings_;
    QPushButton* reopen_;
    QLabel* help_;
};

}  // namespace lumenhollow
