#pragma once

// SymbolLabel: a symbol followed by a text that wraps onto as many lines as
// it needs, the symbol beside the first line. For the panels' notes and
// card headings. GUI thread.

#include <QColor>
#include <QFont>
#include <QWidget>
#include <string>

class QLabel;

namespace lumenhollow::ui {

class SymbolLabel final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kGap = 6;

    SymbolLabel(std::string symbol, const QString& text, const QFont& font, const QColor& color, QWidget* parent);

    void setSymbol(std::string symbol);
    void setText(const QString& text);
    const std::string& symbol() const { return symbol_; }
    QString text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string symbol_;
    QColor color_;
    int symbolSize_;
    QLabel* label_;
};

}  // namespace lumenhollow::ui
