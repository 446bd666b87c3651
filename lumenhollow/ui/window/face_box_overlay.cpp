#include "lumenhollow/ui/window/face_box_overlay.h"

#include <QPainter>
#include <QVariantAnimation>
#include <algorithm>

#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/palette.h"

namespace lumenhollow {

namespace {

hollowkit::NormalizedRect blendFaces(const hollowkit::NormalizedRect& from, const hollowkit::NormalizedRect& to,
                                     double progress) {
    auto mix = [progress](double a, double b) { return a + (b - a) * progress; };
    return {mix(from.x, to.x), mix(from.y, to.y), mix(from.width, to.width), mix(from.height, to.height)};
}

}  // namespace

QRectF faceBox(const hollowkit::NormalizedRect& face, QSizeF size) {
    return QRectF(face.x * size.width(), face.y * size.height(), face.width * size.width(),
                  face.height * size.height());
}

FaceCornerLines faceCornerLines(const QRectF& rect) {
    const double arm = 0.25 * std::min(rect.width(), rect.height());
    const double left = rect.left();
    const double top = rect.top();
    const double right = rect.right();
    const double bottom = rect.bottom();
    return {{
        {QPointF(left + arm, top), QPointF(left, top), QPointF(left, top + arm)},
        {QPointF(right - arm, top), QPointF(right, top), QPointF(right, top + arm)},
        {QPointF(left + arm, bottom), QPointF(left, bottom), QPointF(left, bottom - arm)},
        {QPointF(right - arm, bottom), QPointF(right, bottom), QPointF(right, bottom - arm)},
    }};
}

QPainterPath FaceCorners(const QRectF& rect) {
    QPainterPath path;
    for (const auto& line : faceCornerLines(rect)) {
        path.moveTo(line[0]);
        path.lineTo(line[1]);
        path.lineTo(line[2]);
    }
    return path;
}

FaceBoxOverlay::FaceBoxOverlay(QWidget* parent)
    : QWidget(parent), pen_(ui::appAccentColor(), kLineWidth, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin) {
    pen_.setMiterLimit(10);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
}

void FaceBoxOverlay::setFace(std::optional<hollowkit::NormalizedRect> face) {
    if (face == target_) return;
    if (glide_) {
        glide_->stop();
        glide_->deleteLater();
        glide_ = nullptr;
    }
    target_ = face;
    if (!face) {
        shown_.reset();
        corners_ = QPainterPath();
        dotted_ = false;
        update();
        return;
    }
    if (!shown_) {
        showAt(*face);
        return;
    }
    // From wherever the brackets stand now, so a new face mid-glide does not jump.
    const hollowkit::NormalizedRect from = *shown_;
    const hollowkit::NormalizedRect to = *face;
    glide_ = ui::animate(this, ui::Ease{ui::Ease::Kind::out, kGlideSeconds},
                         [this, from, to](double progress) { showAt(blendFaces(from, to, progress)); });
}

void FaceBoxOverlay::showAt(const hollowkit::NormalizedRect& face) {
    shown_ = face;
    const QRectF box = faceBox(face, size());
    corners_ = FaceCorners(box);
    dotted_ = !(box.width() > 0 && box.height() > 0);
    if (dotted_) {
        const FaceCornerLines lines = faceCornerLines(box);
        for (size_t i = 0; i < lines.size(); ++i) dots_[i] = lines[i][1];
    }
    update();
}

void FaceBoxOverlay::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (shown_) showAt(*shown_);
}

void FaceBoxOverlay::paintEvent(QPaintEvent*) {
    if (!shown_) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(pen_);
    painter.setBrush(Qt::NoBrush);
    if (dotted_) {
        // The round caps of arms of no length.
        painter.drawPoints(dots_.data(), static_cast<int>(dots_.size()));
        return;
    }
    painter.drawPath(corners_);
}

}  // namespace lumenhollow
