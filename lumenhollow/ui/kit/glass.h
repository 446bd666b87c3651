#pragma once

// The glass look every floating control wears, back to front: a tint or
// black at 0.35, the material at 0.9 (the blurred picture of what lies
// behind, or a solid dark stand-in when there is none), the content in
// white, and a 1-pixel white line at 0.12 just inside the edge.

#include <QAbstractButton>
#include <QBrush>
#include <QColor>
#include <QPainterPath>
#include <QPen>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <string>

#include "lumenhollow/ui/kit/glass_backdrop.h"

namespace lumenhollow::ui {

enum class GlassShape { capsule, circle, roundedRect };

// The outline of `shape` in `rect`; `cornerRadius` only for roundedRect.
QPainterPath glassPath(GlassShape shape, const QRectF& rect, double cornerRadius = 0);

// The opacities the glass is painted with: the blurred picture, then the
// fill over it, which together give exactly the fill behind the material
// (the material blurs the fill with the rest). `opacity` is the whole
// glass's, `fillOpacity` the fill's own (0.35, times a tint's alpha).
struct GlassLayers {
    double picture = 0;
    double fill = 0;
};
GlassLayers glassLayers(double opacity, double fillOpacity);

// Paints the glass of `shape` in `rect` of `widget` under the content; the
// content comes after, and paintGlassEdge over it. They make their outlines
// afresh each time: a widget painted often keeps a GlassLook instead.
void paintGlass(QPainter& painter, const QWidget& widget, GlassShape shape, const QRectF& rect,
                const std::optional<QColor>& tint, double cornerRadius = 0);
void paintGlassEdge(QPainter& painter, GlassShape shape, const QRectF& rect, double cornerRadius = 0);

// The glass of one widget, kept between its paints so that painting it
// again allocates nothing: the outline and the inner line are made once per
// shape and size, the backdrop above the widget is found once (again only
// when the widget moves to another parent or a backdrop is attached), and
// the backdrop's brush is made once per picture. GUI thread only.
class GlassLook {
public:
    // The layers under the content: the fill and the material.
    void paint(QPainter& painter, const QWidget& widget, GlassShape shape, const QRectF& rect,
               const std::optional<QColor>& tint, double cornerRadius = 0);
    // The line just inside the edge, over the content, at the painter's
    // opacity (the glass's own, as given to paint()).
    void paintEdge(QPainter& painter, GlassShape shape, const QRectF& rect, double cornerRadius = 0);

private:
    void shapeFor(GlassShape shape, const QRectF& rect, double cornerRadius);
    const GlassBackdrop* backdropFor(const QWidget& widget);
    // The backdrop's picture placed for `widget`, or the solid stand-in.
    const QBrush& pictureBrush(const QWidget& widget);

    GlassShape shape_ = GlassShape::capsule;
    QRectF rect_;
    double cornerRadius_ = -1;
    QPainterPath outline_;
    QPainterPath inner_;
    QPen borderPen_;
    QBrush fill_;

    const QWidget* parent_ = nullptr;
    uint64_t attachments_ = 0;  // GlassBackdrop::attachments() when found
    const GlassBackdrop* backdrop_ = nullptr;
    const QWidget* root_ = nullptr;
    // The backdrop's picture as a brush placed for this widget, and what it
    // was made for (the picture, the root's size, the widget's place in it).
    QBrush picture_;
    qint64 pictureKey_ = 0;
    QSizeF pictureArea_;
    QPointF pictureOffset_;
};

class GlassEdge;

// A widget with a glass surface behind its children, and the glass's edge
// over them (and over what a subclass paints itself).
class GlassSurface : public QWidget {
    Q_OBJECT
public:
    GlassSurface(GlassShape shape, QWidget* parent, double cornerRadius = 0);
    void setTint(std::optional<QColor> tint);
    const std::optional<QColor>& tint() const { return tint_; }
    GlassShape shape() const { return shape_; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // The glass under the content, for a subclass that paints its content
    // with the same painter (the edge is drawn over it all the same).
    void paintSurface(QPainter& painter);

private:
    GlassShape shape_;
    double cornerRadius_;
    std::optional<QColor> tint_;
    GlassLook look_;
    GlassEdge* edge_ = nullptr;
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
    GlassLook look_;
};

// True when `pos` lies inside the circle inscribed in `rect`.
bool insideCircle(const QRectF& rect, const QPointF& pos);

}  // namespace lumenhollow::ui
