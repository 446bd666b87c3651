#include "lumenhollow/ui/kit/glass.h"

#include <QChildEvent>
#include <QPainter>

#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/glass_backdrop.h"
#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/symbols.h"

namespace lumenhollow::ui {

QPainterPath glassPath(GlassShape shape, const QRectF& rect, double cornerRadius) {
    QPainterPath path;
    switch (shape) {
        case GlassShape::capsule: {
            const double r = std::min(rect.width(), rect.height()) / 2;
            path.addRoundedRect(rect, r, r);
            break;
        }
        case GlassShape::circle: {
            const double side = std::min(rect.width(), rect.height());
            path.addEllipse(QRectF(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side));
            break;
        }
        case GlassShape::roundedRect: path.addRoundedRect(rect, cornerRadius, cornerRadius); break;
    }
    return path;
}

GlassLayers glassLayers(double opacity, double fillOpacity) {
    // Back to front the glass is the fill (the tint, or black), then the
    // material. The material blurs all that lies behind it, this fill
    // included; the fill is even across the shape, so that blur is the
    // blurred picture seen through the fill. Aimed for, with u what lies
    // under the glass, b the blurred picture, t the fill's colour, f its
    // opacity, m the material's and o the whole glass's:
    //   (1 - o) u + o (m ((1 - f) b + f t) + (1 - m) ((1 - f) u + f t))
    // which is exactly the picture at o m (1 - f) / (1 - o f) with the fill
    // at o f over it: two fills of the outline rather than three.
    const double o = std::clamp(opacity, 0.0, 1.0);
    const double f = std::clamp(fillOpacity, 0.0, 1.0);
    const double m = GlassColors::materialOpacity;
    GlassLayers layers;
    layers.fill = o * f;
    layers.picture = layers.fill < 1 ? o * m * (1 - f) / (1 - layers.fill) : 0;
    return layers;
}

void paintGlass(QPainter& painter, const QWidget& widget, GlassShape shape, const QRectF& rect,
                const std::optional<QColor>& tint, double cornerRadius) {
    GlassLook().paint(painter, widget, shape, rect, tint, cornerRadius);
}

void paintGlassEdge(QPainter& painter, GlassShape shape, const QRectF& rect, double cornerRadius) {
    GlassLook().paintEdge(painter, shape, rect, cornerRadius);
}

void GlassLook::shapeFor(GlassShape shape, const QRectF& rect, double cornerRadius) {
    if (shape == shape_ && rect == rect_ && cornerRadius == cornerRadius_) return;
    shape_ = shape;
    rect_ = rect;
    cornerRadius_ = cornerRadius;
    outline_ = glassPath(shape, rect, cornerRadius);
    // The line lies wholly inside the edge.
    const double half = GlassColors::borderWidth / 2;
    inner_ = glassPath(shape, rect.adjusted(half, half, -half, -half), std::max(cornerRadius - half, 0.0));
    borderPen_ = QPen(withOpacity(QColor(Qt::white), GlassColors::borderOpacity), GlassColors::borderWidth);
}

const GlassBackdrop* GlassLook::backdropFor(const QWidget& widget) {
    if (widget.parentWidget() != parent_ || GlassBackdrop::attachments() != attachments_) {
        parent_ = widget.parentWidget();
        attachments_ = GlassBackdrop::attachments();
        const GlassBackdrop::Found found = GlassBackdrop::find(&widget);
        backdrop_ = found.backdrop;
        root_ = found.root;
        pictureKey_ = 0;
    }
    return backdrop_;
}

const QBrush& GlassLook::pictureBrush(const QWidget& widget) {
    const GlassBackdrop* backdrop = backdropFor(widget);
    if (!backdrop || !backdrop->hasPicture()) {
        if (picture_.style() != Qt::SolidPattern || picture_.color() != GlassColors::noPicture()) {
            picture_ = QBrush(GlassColors::noPicture());
            pictureKey_ = 0;
        }
        return picture_;
    }
    // The blurred scene spans the whole root: stretched over it and placed
    // for this widget, so the glass shows exactly what lies under it.
    const QPointF offset = widget.mapTo(root_, QPoint(0, 0));
    const QImage& image = backdrop->image();
    const QSizeF rootSize = root_->size();
    if (image.cacheKey() != pictureKey_ || rootSize != pictureArea_ || offset != pictureOffset_) {
        pictureKey_ = image.cacheKey();
        pictureArea_ = rootSize;
        pictureOffset_ = offset;
        picture_ = QBrush(image);
        picture_.setTransform(QTransform::fromTranslate(-offset.x(), -offset.y())
                                  .scale(rootSize.width() / image.width(), rootSize.height() / image.height()));
    }
    return picture_;
}

void GlassLook::paint(QPainter& painter, const QWidget& widget, GlassShape shape, const QRectF& rect,
                      const std::optional<QColor>& tint, double cornerRadius) {
    shapeFor(shape, rect, cornerRadius);
    // The painter's state is put back by hand: saving it would allocate.
    const QPainter::RenderHints hints = painter.renderHints();
    const QPen pen = painter.pen();
    const QBrush brush = painter.brush();
    const double opacity = painter.opacity();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setPen(Qt::NoPen);

    QColor fill = tint.value_or(QColor(Qt::black));
    const GlassLayers layers = glassLayers(opacity, fill.alphaF() * GlassColors::fillOpacity);
    fill.setAlphaF(1);
    if (fill_.color() != fill || fill_.style() != Qt::SolidPattern) fill_ = QBrush(fill);

    painter.setBrush(pictureBrush(widget));
    painter.setOpacity(layers.picture);
    painter.drawPath(outline_);
    painter.setBrush(fill_);
    painter.setOpacity(layers.fill);
    painter.drawPath(outline_);
    painter.setOpacity(opacity);
    painter.setPen(pen);
    painter.setBrush(brush);
    painter.setRenderHints(hints, true);
    painter.setRenderHints(~hints, false);
}

void GlassLook::paintEdge(QPainter& painter, GlassShape shape, const QRectF& rect, double cornerRadius) {
    shapeFor(shape, rect, cornerRadius);
    const QPainter::RenderHints hints = painter.renderHints();
    const QPen pen = painter.pen();
    const QBrush brush = painter.brush();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(borderPen_);
    painter.drawPath(inner_);
    painter.setPen(pen);
    painter.setBrush(brush);
    painter.setRenderHints(hints, true);
    painter.setRenderHints(~hints, false);
}

bool insideCircle(const QRectF& rect, const QPointF& pos) {
    const double r = std::min(rect.width(), rect.height()) / 2;
    const QPointF d = pos - rect.center();
    return d.x() * d.x() + d.y() * d.y() <= r * r;
}

// The glass's edge over a surface's children: a child of its own, kept in
// front of the others and as large as the surface, that draws only the
// line and takes no input.
class GlassEdge final : public QWidget {
public:
    explicit GlassEdge(GlassSurface& surface) : QWidget(&surface), surface_(surface) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_TranslucentBackground);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        look_.paintEdge(painter, surface_.shape(), rect(), cornerRadius_);
    }

private:
    friend class GlassSurface;
    GlassSurface& surface_;
    double cornerRadius_ = 0;
    GlassLook look_;
};

GlassSurface::GlassSurface(GlassShape shape, QWidget* parent, double cornerRadius)
    : QWidget(parent), shape_(shape), cornerRadius_(cornerRadius) {
    edge_ = new GlassEdge(*this);
    edge_->cornerRadius_ = cornerRadius;
    edge_->setGeometry(rect());
    edge_->show();
    setAttribute(Qt::WA_TranslucentBackground);
    QPalette white = palette();
    white.setColor(QPalette::WindowText, Qt::white);
    white.setColor(QPalette::Text, Qt::white);
    white.setColor(QPalette::ButtonText, Qt::white);
    setPalette(white);
}

void GlassSurface::setTint(std::optional<QColor> tint) {
    tint_ = tint;
    update();
}

bool GlassSurface::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::ChildAdded:
            // A child added later would lie over the edge.
            if (edge_ && static_cast<QChildEvent*>(event)->child() != edge_) edge_->raise();
            break;
        case QEvent::Resize:
            if (edge_) edge_->setGeometry(rect());
            break;
        default: break;
    }
    return QWidget::event(event);
}

void GlassSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintSurface(painter);
}

void GlassSurface::paintSurface(QPainter& painter) { look_.paint(painter, *this, shape_, rect(), tint_, cornerRadius_); }

PillBackground::PillBackground(QWidget* parent) : GlassSurface(GlassShape::capsule, parent) {
    setFixedHeight(kHeight);
    setContentsMargins(kInset, 0, kInset, 0);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

CircleBackground::CircleBackground(int diameter, QWidget* parent) : GlassSurface(GlassShape::circle, parent) {
    setFixedSize(diameter, diameter);
}

IconButton::IconButton(std::string symbol, const QString& help, int size, QWidget* parent)
    : QAbstractButton(parent), symbol_(std::move(symbol)) {
    setFixedSize(size, size);
    setHelp(*this, help);
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::ArrowCursor);
    makePressable(*this, PressRole::button, [this] { click(); });
}

void IconButton::setActive(bool active) {
    if (active_ == active) return;
    active_ = active;
    update();
}

void IconButton::setSymbol(std::string symbol) {
    if (symbol_ == symbol) return;
    symbol_ = std::move(symbol);
    update();
}

void IconButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const std::optional<QColor> tint =
        active_ ? std::optional<QColor>(withOpacity(platformAccentColor(), 0.55)) : std::nullopt;
    look_.paint(painter, *this, GlassShape::circle, rect(), tint);
    Symbols::instance().draw(painter, rect(), symbol_, symbolPixels(), Qt::white);
    look_.paintEdge(painter, GlassShape::circle, rect());
    paintFocusRing(painter, *this, GlassShape::circle, rect());
}

void IconButton::setSymbolPixels(double px) {
    symbolPixels_ = px;
    update();
}

double IconButton::symbolPixels() const { return symbolPixels_ > 0 ? symbolPixels_ : width() * 0.4; }

bool IconButton::hitButton(const QPoint& pos) const { return insideCircle(rect(), pos); }

}  // namespace lumenhollow::ui
