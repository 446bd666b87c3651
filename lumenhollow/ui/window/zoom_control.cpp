#include "lumenhollow/ui/window/zoom_control.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>
#include <functional>

#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow {

namespace {

constexpr double kZoomLabelPx = 13;
constexpr double kZoomSymbolPx = 12;
// The minus sign in the tooltip is U+2212, not a hyphen.
constexpr const char* kZoomTooltip = "Zoom (+ / \u2212, or scroll on the preview)";

// One step of the control to the keyboard: drawn by the control, with the
// focus ring over it while the keyboard has put the focus there.
class ZoomStepButton final : public QWidget {
public:
    ZoomStepButton(const QString& name, std::function<void()> step, QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAccessibleName(name);
        ui::makePressable(*this, ui::PressRole::button, std::move(step));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        ui::paintFocusRing(painter, *this, ui::GlassShape::roundedRect, rect(), kZoomStepRingRadius);
    }

private:
    static constexpr double kZoomStepRingRadius = 6;
};

QString zoomGlyph(const char* name) {
    const std::optional<QChar> glyph = ui::Symbols::instance().glyph(name);
    return glyph ? QString(*glyph) : QString();
}

}  // namespace

ZoomControl::ZoomControl(ModelSignals& model, QWidget* parent)
    : ui::PillBackground(parent),
      model_(model),
      labelFont_(ui::uiFont(kZoomLabelPx, QFont::DemiBold)),
      symbolFont_(ui::Symbols::instance().font(kZoomSymbolPx)),
      minusGlyph_(zoomGlyph("minus")),
      plusGlyph_(zoomGlyph("plus")),
      minusButton_(new ZoomStepButton(QStringLiteral("Zoom out"), [this] { model_.model().zoomStep(-1); }, this)),
      plusButton_(new ZoomStepButton(QStringLiteral("Zoom in"), [this] { model_.model().zoomStep(1); }, this)) {
    ui::setHelp(*this, QString::fromUtf8(kZoomTooltip));
    setCursor(Qt::ArrowCursor);
    // The range can come with the picture's statistics or a new camera.
    model_.onChange({Field::zoom, Field::zoomRange, Field::stats, Field::connection}, this, [this] { refresh(); });
    refresh();
}

void ZoomControl::refresh() {
    const QString text = QString::fromStdString(model_.model().zoomLabel());
    if (text == label_ && layout_.width > 0) return;
    label_ = text;
    const QFontMetricsF metrics(labelFont_);
    const double textWidth = ui::tabularWidth(metrics, label_);
    labelLine_ = ui::layoutTabular(metrics, label_);
    layout_ = zoomPillLayout(textWidth);
    // Centred in its frame; the pill's height never changes.
    labelBaseline_ = QPointF(layout_.labelX + (layout_.labelWidth - textWidth) / 2,
                             ui::centredBaseline(metrics, kHeight / 2.0));
    setFixedWidth(static_cast<int>(std::ceil(layout_.width)));
    minusButton_->setGeometry(minusRect().toAlignedRect());
    plusButton_->setGeometry(plusRect().toAlignedRect());
    update();
}

QRectF ZoomControl::minusRect() const {
    return {layout_.minusX, (height() - kZoomButtonSide) / 2, kZoomButtonSide, kZoomButtonSide};
}

QRectF ZoomControl::plusRect() const {
    return {layout_.plusX, (height() - kZoomButtonSide) / 2, kZoomButtonSide, kZoomButtonSide};
}

int ZoomControl::stepAt(const QPointF& pos) const {
    if (minusRect().contains(pos)) return -1;
    if (plusRect().contains(pos)) return 1;
    return 0;
}

void ZoomControl::mousePressEvent(QMouseEvent* event) {
    // The pill takes every press, so none starts a gimbal drag on the picture below.
    event->accept();
    pressedStep_ = event->button() == Qt::LeftButton ? stepAt(event->position()) : 0;
}

void ZoomControl::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton) return;
    const int step = pressedStep_;
    pressedStep_ = 0;
    if (step != 0 && stepAt(event->position()) == step) model_.model().zoomStep(step);
}

void ZoomControl::paintEvent(QPaintEvent* event) {
    ui::PillBackground::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::white);
    painter.setFont(symbolFont_);
    painter.drawText(minusRect(), Qt::AlignCenter, minusGlyph_);
    painter.drawText(plusRect(), Qt::AlignCenter, plusGlyph_);
    painter.setFont(labelFont_);
    ui::drawTabular(painter, labelBaseline_, labelLine_);
}

}  // namespace lumenhollow
