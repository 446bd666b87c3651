#include "lumenhollow/ui/island/record_button.h"

#include <QPainter>

#include "lumenhollow/ui/kit/palette.h"

namespace lumenhollow::ui {
namespace {

constexpr double kRecordDot = 16;
constexpr double kRecordStop = 12;
constexpr double kRecordStopRadius = 3;

}  // namespace

RecordButton::RecordButton(QWidget* parent) : QAbstractButton(parent) {
    setFixedSize(36, 36);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_AlwaysShowToolTips);
}

void RecordButton::setRecording(bool recording) {
    if (recording == recording_) return;
    recording_ = recording;
    update();
}

bool RecordButton::hitButton(const QPoint& pos) const {
    const QPointF d = QPointF(pos) - QRectF(rect()).center();
    return d.x() * d.x() + d.y() * d.y() <= width() * width() / 4.0;
}

void RecordButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(1, 1, 1, 0.10f));
    painter.drawEllipse(QRectF(rect()));
    painter.setBrush(appAccentColor());
    const QPointF c = QRectF(rect()).center();
    if (recording_) {
        painter.drawRoundedRect(QRectF(c.x() - kRecordStop / 2, c.y() - kRecordStop / 2, kRecordStop, kRecordStop),
                                kRecordStopRadius, kRecordStopRadius);
    } else {
        painter.drawEllipse(c, kRecordDot / 2, kRecordDot / 2);
    }
}

}  // namespace lumenhollow::ui
