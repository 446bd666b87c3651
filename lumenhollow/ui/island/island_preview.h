#pragma once

// IslandPreview: the open island's live picture and what lies over it. It
// paints the newest frame of the island's feed aspect-fit on dark grey in a
// rounded pane, and turns presses, drags and the wheel into the same
// PreviewInput calls as the main window's picture. Over the picture: the
// status (spinner or Reconnect, and the status text) while not live, the
// recording badge, and the tracked face's corners.
//
// A drag never outlives the pane: hidden or destroyed mid-press, it ends as
// if released (a speed drag stops the gimbal), and the cursor is the widget's
// own, so nothing stays pushed. GUI thread only.

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QPoint>
#include <QWidget>

#include <memory>
#include <optional>

#include "hollowkit/imaging/normalized_rect.h"
#include "hollowkit/media/video_frame.h"
#include "lumenhollow/model/preview_input.h"
#include "lumenhollow/ui/island/island_content.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow {
class VideoFeed;
class FaceBoxOverlay;
}  // namespace lumenhollow

class QPainter;

namespace lumenhollow::ui {

class IslandButton;
class Spinner;

// Where a picture of `picture*` device pixels goes, centred on whole pixels,
// when it was prepared for a pane of `pane*` (one side fills it, the other
// fits); none when it must be scaled to fit.
std::optional<QPoint> exactPicturePosition(int paneWidth, int paneHeight, int pictureWidth, int pictureHeight);

class IslandPreview final : public QWidget {
    Q_OBJECT
public:
    // `feed` may be none (no picture) and may go first.
    IslandPreview(VideoFeed* feed, std::weak_ptr<CameraModel> model, QWidget* parent);
    ~IslandPreview() override;

    void setStatus(const IslandStatusOverlay& overlay, const QString& statusText);
    // The badge's elapsed text, or none while not recording; the dot's opacity.
    void setBadge(const std::optional<QString>& elapsed, double dotOpacity);
    // The tracked face, placed over the picture of `pictureAspect` where the
    // pane shows it (the pane's own shape may differ: it is clamped).
    void setFace(const std::optional<hollowkit::NormalizedRect>& face, double pictureAspect);

    const hollowkit::VideoFrame& currentFrame() const { return frame_; }
    PreviewInput& input() { return input_; }
    IslandButton& reconnectButton() const { return *reconnect_; }
    Spinner& spinner() const { return *spinner_; }
    QRectF badgeRect() const { return badge_; }

    // Takes the waiting frame now instead of on the posted wake-up.
    void showWaitingFrame();

Q_SIGNALS:
    void reconnectClicked();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void endDrag();
    void placeOverlay();
    void placeFaceBox();
    void publishTargetSize();
    void placePicture();
    bool paintsCornersOnly() const;
    void paintCornered(QPainter& painter);

    VideoFeed* feed_;
    PreviewInput input_;
    hollowkit::VideoFrame frame_;
    QImage image_;
    // The picture as a brush, drawn at whole pixels when it fits the pane
    // as prepared; `pictureShape_` is the pane's part it covers.
    QBrush pictureBrush_;
    QPointF pictureOrigin_;
    QPainterPath pictureShape_;
    bool pictureExact_ = false;
    bool pictureCoversPane_ = false;
    QPainterPath pane_;
    QPainterPath border_;
    // The pane's coverage and hairline drawn once per size: a picture that
    // fills the pane is then copied as is and only its corners are blended.
    QImage paneMask_;
    QImage borderImage_;
    QImage cornerTile_;
    Spinner* spinner_;
    IslandButton* reconnect_;
    FaceBoxOverlay* faceBox_;
    double pictureAspect_ = 16.0 / 9.0;
    IslandStatusOverlay status_;
    QString statusText_;
    QFont statusFont_;
    QRectF statusRect_;
    std::optional<QString> elapsed_;
    TabularLine elapsedLine_;
    QFont badgeFont_;
    QRectF badge_;
    double dotOpacity_ = 1;
};

}  // namespace lumenhollow::ui
