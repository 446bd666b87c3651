#pragma once

// LiveBackdrop: the picture behind the main window's glass. It is attached
// to the video surface (the root of the window's composition), so every
// glass control over it draws, blurred, what lies under it: the live frame,
// the black bars beside a letterboxed frame, what is drawn on the picture
// (the guides with their darkening, the face box), and the chrome's
// darkening. From
// the frames the surface shows it blurs at most one each kMinimumInterval on
// its own thread (a frame offered sooner, or while a blur runs, is passed over:
// behind a blur this strong, ten pictures a second move as smoothly as thirty,
// for a third of the work), and hands the picture back to the GUI thread, where
// the glass is repainted with the next frame anyway. offer() and clear(): GUI
// thread; `root` and `clock` must outlive it.

#include <QImage>
#include <QObject>
#include <QRectF>

#include <chrono>
#include <memory>

#include "hollowkit/base/clock.h"
#include "hollowkit/media/video_frame.h"
#include "lumenhollow/ui/kit/glass_backdrop.h"

namespace hollowkit {
class SerialQueue;
}

class QWidget;

namespace lumenhollow {

// True when a frame offered at `now` is blurred: none is being blurred and
// the last blur started at least `interval` before (or none has yet).
bool backdropDue(bool blurring, std::optional<hollowkit::TimePoint> lastStart, hollowkit::TimePoint now,
                 hollowkit::Duration interval);

// What `layer` (a child of `root`, somewhere inside it) shows on its visible
// children now, drawn at the glass scene's size and placed in `root`;
// nothing when none of them is shown. GUI thread.
ui::GlassMarkings drawGlassMarkings(QWidget& layer, const QWidget& root);

class LiveBackdrop final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kMinimumInterval{100};

    LiveBackdrop(QWidget& root, const hollowkit::Clock& clock = hollowkit::Clock::system());
    ~LiveBackdrop() override;

    // `frame` (BGRA, as the surface shows it) is drawn at `pictureRect` of
    // the root, black around it; a null frame changes nothing.
    void offer(const hollowkit::VideoFrame& frame, const QRectF& pictureRect);
    // No picture: the glass falls back to its solid fill.
    void clear();
    // A darkening of `opacity` over the whole root (a status panel's), which
    // the glass blurs with the rest; applied to the picture at once, not
    // only with the next frame (frames may have stopped).
    void setDimming(double opacity);
    // The layer drawn over the picture (the guides, the face box: `layer`'s
    // visible children, as they are painted when a frame is offered), which
    // the glass blurs with the picture; it must outlive this object.
    void setMarkings(QWidget* layer);

    const ui::GlassBackdrop& backdrop() const { return backdrop_; }
    // Blurs started so far.
    int blurs() const { return blurs_; }

Q_SIGNALS:
    // A new picture is in place (the glass shows it at its next paint).
    void pictureChanged();

private:
    void show();

    QWidget& root_;
    QWidget* markings_ = nullptr;
    const hollowkit::Clock& clock_;
    ui::GlassBackdrop backdrop_;
    QImage scene_;  // the last blurred scene, before the dimming
    double dimming_ = 0;
    bool blurring_ = false;
    std::optional<hollowkit::TimePoint> lastStart_;
    uint64_t generation_ = 0;  // bumped by clear(): a blur started before it is dropped
    int blurs_ = 0;
    std::unique_ptr<hollowkit::SerialQueue> worker_;
};

}  // namespace lumenhollow
