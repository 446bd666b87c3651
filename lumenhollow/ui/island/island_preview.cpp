#include "lumenhollow/ui/island/island_preview.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPathStroker>
#include <QWheelEvent>

#include <cmath>

#include "lumenhollow/ui/island/island_button.h"
#include "lumenhollow/ui/island/island_glyphs.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/preview_events.h"
#include "lumenhollow/ui/kit/scale_change.h"
#include "lumenhollow/ui/kit/spinner.h"
#include "lumenhollow/ui/window/face_box_overlay.h"
#include "lumenhollow/ui/window/video_feed.h"
#include "lumenhollow/ui/window/window_layout.h"

namespace lumenhollow::ui {
namespace {

constexpr double kPaneRadius = 16;
// The square at each corner the rounding lies in.
constexpr int kCornerSide = 16;
const QColor kPaneBackground = QColor::fromRgbF(0.08f, 0.08f, 0.08f);
const QColor kPaneBorder = QColor::fromRgbF(1, 1, 1, 0.08f);
constexpr double kStatusSpacing = 10;
constexpr double kStatusSidePadding = 24;
constexpr double kBadgeMargin = 8;
constexpr double kBadgePadX = 8;
constexpr double kBadgePadY = 4;
constexpr double kBadgeDotGap = 5;

IslandButton::Face reconnectFace() {
    IslandButton::Face face;
    face.symbol = "arrow.clockwise";
    face.text = QCoreApplication::translate("NotchView", "Reconnect");
    face.symbolPx = 12;
    face.textPx = 12;
    face.fillOpacity = 0.14;
    face.capsule = true;
    const QFontMetricsF metrics(uiFont(12, QFont::DemiBold));
    const int width = static_cast<int>(std::ceil(metrics.horizontalAdvance(face.text) + 14 + 4 + 24));
    face.size = QSize(width, static_cast<int>(std::ceil(metrics.height() + 12)));
    return face;
}

}  // namespace

std::optional<QPoint> exactPicturePosition(int paneWidth, int paneHeight, int pictureWidth, int pictureHeight) {
    if (paneWidth <= 0 || paneHeight <= 0 || pictureWidth <= 0 || pictureHeight <= 0) return std::nullopt;
    // As prepared for the pane: one side fills it (within the rounding of
    // the aspect), the other fits inside.
    const bool fillsWidth = pictureWidth == paneWidth && pictureHeight <= paneHeight + 1;
    const bool fillsHeight = pictureHeight == paneHeight && pictureWidth <= paneWidth + 1;
    if (!fillsWidth && !fillsHeight) return std::nullopt;
    return QPoint((paneWidth - pictureWidth) / 2, (paneHeight - pictureHeight) / 2);
}

IslandPreview::IslandPreview(VideoFeed* feed, std::weak_ptr<CameraModel> model, QWidget* parent)
    : QWidget(parent),
      feed_(feed),
      input_(std::move(model)),
      spinner_(new Spinner(Spinner::Size::mini, this)),
      reconnect_(new IslandButton(reconnectFace(), this)),
      faceBox_(new FaceBoxOverlay(this)),
      statusFont_(uiFont(12, QFont::Medium)),
      badgeFont_(uiFont(11, QFont::Bold)) {
    setObjectName(QStringLiteral("IslandPreview"));
    setCursor(Qt::OpenHandCursor);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    spinner_->hide();
    reconnect_->hide();
    faceBox_->hide();
    connect(reconnect_, &QAbstractButton::clicked, this, &IslandPreview::reconnectClicked);
    if (feed_) {
        connect(&feed_->relay(), &FeedRelay::frameReady, this, &IslandPreview::showWaitingFrame);
        connect(&feed_->relay(), &FeedRelay::imageRemoved, this, [this] {
            frame_ = {};
            image_ = {};
            placePicture();
            update();
        });
        connect(&feed_->relay(), &QObject::destroyed, this, [this] { feed_ = nullptr; });
    }
}

IslandPreview::~IslandPreview() { endDrag(); }

void IslandPreview::showWaitingFrame() {
    if (!feed_) return;
    hollowkit::VideoFrame frame = feed_->mailbox().take();
    if (!frame) return;
    const bool resized = frame.width() != frame_.width() || frame.height() != frame_.height();
    frame_ = std::move(frame);
    image_ = QImage(frame_.planeData(0), frame_.width(), frame_.height(), static_cast<qsizetype>(frame_.stride(0)),
                    QImage::Format_RGB32);
    image_.setDevicePixelRatio(devicePixelRatioF());
    if (resized || !pictureExact_) {
        placePicture();
    } else {
        pictureBrush_.setTextureImage(image_);
    }
    update();
}

void IslandPreview::setStatus(const IslandStatusOverlay& overlay, const QString& statusText) {
    if (overlay == status_ && statusText == statusText_) return;
    status_ = overlay;
    statusText_ = statusText;
    placeOverlay();
    update();
}

void IslandPreview::setBadge(const std::optional<QString>& elapsed, double dotOpacity) {
    if (elapsed == elapsed_ && dotOpacity == dotOpacity_) return;
    if (elapsed != elapsed_) {
        elapsed_ = elapsed;
        elapsedLine_ = elapsed_ ? layoutTabular(QFontMetricsF(badgeFont_), *elapsed_) : TabularLine{};
        const QFontMetricsF metrics(badgeFont_);
        badge_ = elapsed_ ? QRectF(kBadgeMargin, kBadgeMargin,
                                   2 * kBadgePadX + PulsingDot::kDiameter + kBadgeDotGap + elapsedLine_.width,
                                   2 * kBadgePadY + metrics.height())
                          : QRectF();
    }
    dotOpacity_ = dotOpacity;
    update(badge_.toAlignedRect().adjusted(-1, -1, 1, 1));
}

void IslandPreview::setFace(const std::optional<hollowkit::NormalizedRect>& face, double pictureAspect) {
    if (pictureAspect != pictureAspect_) {
        pictureAspect_ = pictureAspect;
        placeFaceBox();
    }
    if (faceBox_->isHidden() == face.has_value()) faceBox_->setVisible(face.has_value());
    faceBox_->setFace(face);
}

void IslandPreview::placeFaceBox() {
    // The face is measured in the picture, which the pane letterboxes.
    const RectF picture =
        videoRect(SizeF{static_cast<double>(width()), static_cast<double>(height())}, pictureAspect_);
    faceBox_->setGeometry(QRectF(picture.x, picture.y, picture.width, picture.height).toAlignedRect());
}

void IslandPreview::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    pane_ = QPainterPath();
    pane_.addRoundedRect(QRectF(rect()), kPaneRadius, kPaneRadius);
    // The hairline as a filled outline made once: stroking it anew each
    // paint costs some fifty allocations.
    QPainterPath line;
    line.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kPaneRadius - 0.5, kPaneRadius - 0.5);
    QPainterPathStroker stroker;
    stroker.setWidth(1);
    border_ = stroker.createStroke(line);
    paneMask_ = QImage(size(), QImage::Format_Alpha8);
    paneMask_.fill(0);
    borderImage_ = QImage(size(), QImage::Format_ARGB32_Premultiplied);
    borderImage_.fill(0);
    if (!size().isEmpty()) {
        QPainter mask(&paneMask_);
        mask.setRenderHint(QPainter::Antialiasing);
        mask.fillPath(pane_, Qt::black);
        QPainter border(&borderImage_);
        border.setRenderHint(QPainter::Antialiasing);
        border.fillPath(border_, kPaneBorder);
    }
    cornerTile_ = QImage(kCornerSide, kCornerSide, QImage::Format_ARGB32_Premultiplied);
    placePicture();
    placeFaceBox();
    publishTargetSize();
    placeOverlay();
}

bool IslandPreview::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // On a screen of another scale the frames are prepared for its pixels.
    if (ui::isScaleChange(*event)) publishTargetSize();
    return handled;
}

void IslandPreview::placePicture() {
    // A picture prepared for the pane's pixels is put on whole device
    // pixels as it is: no resampling, no fractional edge to smooth.
    const qreal ratio = devicePixelRatioF();
    const std::optional<QPoint> at =
        image_.isNull() ? std::nullopt
                        : exactPicturePosition(qRound(width() * ratio), qRound(height() * ratio), image_.width(),
                                               image_.height());
    pictureExact_ = at.has_value();
    if (!pictureExact_) {
        pictureBrush_ = QBrush();
        pictureShape_ = QPainterPath();
        return;
    }
    pictureOrigin_ = QPointF(at->x() / ratio, at->y() / ratio);
    const QRectF covered(pictureOrigin_, QSizeF(image_.width() / ratio, image_.height() / ratio));
    pictureCoversPane_ = covered.contains(QRectF(rect()));
    QPainterPath picture;
    picture.addRect(covered);
    pictureShape_ = pane_.intersected(picture);
    pictureBrush_ = QBrush(image_);
}

void IslandPreview::publishTargetSize() {
    if (!feed_) return;
    const qreal ratio = devicePixelRatioF();
    feed_->mailbox().setTargetSize(qRound(width() * ratio), qRound(height() * ratio));
}

void IslandPreview::placeOverlay() {
    // Spinner or Reconnect, then the text, stacked and centred as one.
    const QFontMetricsF metrics(statusFont_);
    const double textWidth = std::max(0.0, width() - 2 * kStatusSidePadding);
    const QRectF measured =
        metrics.boundingRect(QRectF(0, 0, textWidth, 1000), Qt::AlignHCenter | Qt::TextWordWrap, statusText_);
    const double textHeight = statusText_.isEmpty() ? 0 : measured.height();
    const double above = status_.spinner ? spinner_->height() + kStatusSpacing : 0;
    const double below = status_.reconnect ? kStatusSpacing + reconnect_->height() : 0;
    const double top = (height() - (above + textHeight + below)) / 2;
    spinner_->move(qRound((width() - spinner_->width()) / 2.0), qRound(top));
    statusRect_ = QRectF(kStatusSidePadding, top + above, textWidth, textHeight);
    reconnect_->move(qRound((width() - reconnect_->width()) / 2.0), qRound(statusRect_.bottom() + kStatusSpacing));
    spinner_->setVisible(status_.shown && status_.spinner);
    reconnect_->setVisible(status_.shown && status_.reconnect);
}

bool IslandPreview::paintsCornersOnly() const {
    return pictureExact_ && pictureCoversPane_ && devicePixelRatioF() == 1.0 && width() >= 2 * kCornerSide &&
           height() >= 2 * kCornerSide && paneMask_.size() == size();
}

void IslandPreview::paintCornered(QPainter& painter) {
    const int w = width();
    const int h = height();
    const int c = kCornerSide;
    const QPoint origin = pictureOrigin_.toPoint();
    const auto copy = [&](const QRect& area) { painter.drawImage(area.topLeft(), image_, area.translated(-origin)); };
    copy(QRect(c, 0, w - 2 * c, h));
    copy(QRect(0, c, c, h - 2 * c));
    copy(QRect(w - c, c, c, h - 2 * c));
    // The picture's corners through the pane's coverage, as the rounded
    // clip would blend them.
    const QPoint corners[] = {{0, 0}, {w - c, 0}, {0, h - c}, {w - c, h - c}};
    for (const QPoint& corner : corners) {
        for (int y = 0; y < c; ++y) {
            const auto* picture = reinterpret_cast<const QRgb*>(image_.constScanLine(corner.y() + y - origin.y())) +
                                  (corner.x() - origin.x());
            const uchar* coverage = paneMask_.constScanLine(corner.y() + y) + corner.x();
            auto* tile = reinterpret_cast<QRgb*>(cornerTile_.scanLine(y));
            for (int x = 0; x < c; ++x) {
                tile[x] = qPremultiply((picture[x] & 0xffffffu) | (static_cast<QRgb>(coverage[x]) << 24));
            }
        }
        painter.drawImage(corner, cornerTile_);
        painter.drawImage(corner, borderImage_, QRect(corner, QSize(c, c)));
    }
    const QRect edges[] = {{c, 0, w - 2 * c, 1}, {c, h - 1, w - 2 * c, 1}, {0, c, 1, h - 2 * c}, {w - 1, c, 1, h - 2 * c}};
    for (const QRect& edge : edges) painter.drawImage(edge.topLeft(), borderImage_, edge);
}

void IslandPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool cornered = paintsCornersOnly();
    if (cornered) paintCornered(painter);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    if (cornered) {
        // Painted above.
    } else if (pictureExact_) {
        // The pane's rounded shape filled with the picture itself: no clip
        // mask and no scaled copy, a plain copy inside the corners.
        if (!pictureCoversPane_) {
            painter.setBrush(kPaneBackground);
            painter.drawPath(pane_);
        }
        painter.setBrushOrigin(pictureOrigin_);
        painter.setBrush(pictureBrush_);
        painter.drawPath(pictureShape_);
    } else {
        painter.setClipPath(pane_);
        painter.fillRect(rect(), kPaneBackground);
    }
    if (!image_.isNull() && !pictureExact_ && !cornered) {
        const RectF fit = videoRect(SizeF{static_cast<double>(width()), static_cast<double>(height())},
                                    static_cast<double>(image_.width()) / image_.height());
        if (!fit.isEmpty()) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRectF(fit.x, fit.y, fit.width, fit.height), image_);
        }
    }
    if (!pictureExact_ && !cornered) painter.setClipping(false);
    if (status_.shown && !statusText_.isEmpty()) {
        painter.setFont(statusFont_);
        painter.setPen(kIslandSecondary);
        painter.drawText(statusRect_, Qt::AlignHCenter | Qt::TextWordWrap, statusText_);
    }
    if (elapsed_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.55f));
        painter.drawRoundedRect(badge_, badge_.height() / 2, badge_.height() / 2);
        const double mid = badge_.center().y();
        PulsingDot::paint(painter, QPointF(badge_.left() + kBadgePadX + PulsingDot::kDiameter / 2, mid),
                          appAccentColor(), dotOpacity_);
        painter.setFont(badgeFont_);
        painter.setPen(Qt::white);
        drawTabular(painter,
                    QPointF(badge_.left() + kBadgePadX + PulsingDot::kDiameter + kBadgeDotGap,
                            centredBaseline(QFontMetricsF(badgeFont_), mid)),
                    elapsedLine_);
    }
    if (cornered) return;
    painter.setPen(Qt::NoPen);
    painter.setBrush(kPaneBorder);
    painter.drawPath(border_);
}

void IslandPreview::hideEvent(QHideEvent* event) {
    endDrag();
    QWidget::hideEvent(event);
}

void IslandPreview::endDrag() { endPreviewDrag(input_, *this); }

void IslandPreview::mousePressEvent(QMouseEvent* event) {
    if (routePreviewMouse(input_, *this, *event)) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void IslandPreview::mouseMoveEvent(QMouseEvent* event) {
    if (routePreviewMouse(input_, *this, *event)) {
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void IslandPreview::mouseReleaseEvent(QMouseEvent* event) {
    if (routePreviewMouse(input_, *this, *event)) {
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void IslandPreview::wheelEvent(QWheelEvent* event) {
    input_.wheel(previewWheelEvent(*event));
    event->accept();
}

}  // namespace lumenhollow::ui
