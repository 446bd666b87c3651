#pragma once

// PillButton: a plain button drawn as a glass pill: a symbol and a title on
// one line, 6 apart, with 6 more of inset than the pill's own. The whole
// capsule takes the click; the button runs whatever its clicked signal is
// connected to. GUI thread only.

#include <QAbstractButton>
#include <QFont>
#include <string>

namespace lumenhollow::ui {

class PillButton : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr double kExtraInset = 6;
    static constexpr double kSpacing = 6;

    // `titleFont` also sizes the symbol.
    PillButton(std::string symbol, const QString& title, const QFont& titleFont, QWidget* parent);

    const std::string& symbol() const { return symbol_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    std::string symbol_;
    QFont font_;
    double symbolPx_;
    double titleWidth_;
};

}  // namespace lumenhollow::ui
