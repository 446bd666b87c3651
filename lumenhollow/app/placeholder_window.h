#pragma once

// PlaceholderWindow: the main window until the full one is wired in: the
// newest camera frame painted aspect-fit on black (pillarbox or letterbox
// bars around a picture of another shape), and a close that asks the
// application what closing means instead of ending the loop itself. Its
// VideoSink is the model's display layer. GUI thread only.

#include <QWidget>
#include <functional>
#include <memory>

#include "hollowkit/media/video_frame.h"
#include "lumenhollow/model/video_sink.h"

namespace lumenhollow {

class PlaceholderWindow final : public QWidget {
public:
    PlaceholderWindow();
    ~PlaceholderWindow() override;

    // The sink the model shows its frames on; it paints into this window.
    std::shared_ptr<VideoSink> sink() const;
    // Called when the user closes the window, after it has gone.
    void setOnClosed(std::function<void()> onClosed) { onClosed_ = std::move(onClosed); }

    // Frames shown since the start.
    uint64_t framesShown() const { return framesShown_; }

    void showFrame(const hollowkit::VideoFrame& frame);
    void clearFrame();

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    class Sink;

    std::shared_ptr<Sink> sink_;
    hollowkit::VideoFrame frame_;  // the newest
    uint64_t framesShown_ = 0;
    std::function<void()> onClosed_;
};

}  // namespace lumenhollow
