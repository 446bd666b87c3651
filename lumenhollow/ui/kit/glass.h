#pragma once

// The glass look every floating control wears: the blurred picture behind it
// (or a solid dark fill when there is none), a tint or black at 0.35, the
// content in white, and a 1-pixel white line at 0.12 just inside the edge.

#include <QAbstractButton>
#include <QColor>
#include <QPainterPath>
#include <QWidget>
#include <optional>
#include <string>

namespace lumenhollow::ui {

enum class GlassShape { capsule, circle, roundedRect };

// The outline of `shape` in `rect`; `cornerRadius` only for roundedRect.
QPainterPath glassPath(GlassShape shape, const QRectF& rect, double cornerRadius = 0);

// Paints the glass of `shape` in `rect` of `widget` (the content comes after).
void paintGlass(QPainter& painter, const QWidget& widget, GlassShape shape, const QRectF& rect,
                const std::optional<QColor>& tint, double cornerRadius = 0);

// A widget with a glass surface behind its children.
class GlassSurface : public QWidget {
    Q_OBJECT
public:
    GlassSurface(GlassShape shape, QWidget* parent, double cornerRadius = 0);
    void setTint(std::optional<QColor> tint);
    const std::optional<QColor>& tint() const { return tint_; }
    GlassShape shape() const { return shape_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    GlassShape shape_;
    double cornerRadius_;
    std::optional<QColor> tint_;
};

// A glass capsule 30 high with 12 pixels of inset left and right; the width
// follows the content (set a layout on it).
class PillBackground : public GlassSurface {
    Q_OBJECT
public:
    static constexpr int kHeight = 30;
    static constexpr int kInset = 12;
    explicit PillBackground(QWidget* parent);
};

// A glass circle of a given diameter.
class CircleBackground : public GlassSurface {
    Q_OBJECT
public:
    CircleBackground(int diameter, QWidget* parent);
};

// A row or column of glass controls; the platform here has no merging glass,
// so it adds no look and no layout of its own.
using GlassGroup = QWidget;

// The round glass tool button with one symbol at 0.4 of its diameter unless
// given a size of its own; the active state tints the circle with the accent
// at 0.55. The whole circle takes the click. Its help text is also its
// accessible name, so a screen reader can say what it is.
class IconButton : public QAbstractButton {
    Q_OBJECT
public:
    IconButton(std::string symbol, const QString& help, int size, QWidget* parent);
    void setActive(bool active);
    bool isActive() const { return active_; }
    void setSymbol(std::string symbol);
    const std::string& symbol() const { return symbol_; }
    void setSymbolPixels(double px);
    double symbolPixels() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    std::string symbol_;
    double symbolPixels_ = 0;  // 0: 0.4 of the diameter
    bool active_ = false;
};

// True when `pos` lies inside the circle inscribed in `rect`.
bool insideCircle(const QRectF& rect, const QPointF& pos);

}  // namespace lumenhollow::ui
