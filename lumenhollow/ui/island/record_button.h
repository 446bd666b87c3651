#pragma once

// RecordButton: the island's record / stop button: a faint white disc with
// the accent-red 16-point record dot, or a 12-point stop square while
// recording. It draws no dimming of its own when disabled. GUI thread only.

#include <QAbstractButton>

namespace lumenhollow::ui {

class RecordButton final : public QAbstractButton {
    Q_OBJECT
public:
    explicit RecordButton(QWidget* parent);

    void setRecording(bool recording);
    bool recording() const { return recording_; }

    QSize sizeHint() const override { return {36, 36}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    bool recording_ = false;
};

}  // namespace lumenhollow::ui
