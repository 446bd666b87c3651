#pragma once

// IslandButton: the island's round control: a symbol (or a short text, for
// the numbered scene chips, or both on a capsule, for Reconnect) on a faint
// white disc, at 35 % opacity while disabled. Clicks count only on the disc.
// Its tooltip shows although the island's panel never becomes active.
// GUI thread only.

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QString>

#include <optional>
#include <string>

namespace lumenhollow::ui {

class IslandButton final : public QAbstractButton {
    Q_OBJECT
public:
    struct Face {
        std::string symbol;  // may be empty
        QString text;        // may be empty
        QSize size{32, 32};
        double symbolPx = 13;
        double textPx = 12;
        double fillOpacity = 0.10;  // 0: no disc (the zoom stepper's halves)
        bool capsule = false;       // a capsule instead of a disc, clicks anywhere on it
    };
    static constexpr double kDisabledOpacity = 0.35;

    IslandButton(Face face, QWidget* parent);

    void setSymbol(const std::string& symbol);
    // None draws white.
    void setTint(std::optional<QColor> tint);
    const std::string& symbol() const { return face_.symbol; }
    std::optional<QColor> tint() const { return tint_; }

    QSize sizeHint() const override { return face_.size; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    Face face_;
    std::optional<QColor> tint_;
    QFont textFont_;
};

}  // namespace lumenhollow::ui
