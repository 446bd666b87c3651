#pragma once

// MicrophoneMenuButton: the face of a microphone menu (its symbol, the
// device's name cut to its width, the "AUTO" badge when the camera chooses,
// and the chevron) that opens its menu under itself. It draws no glass: the
// control around it wears the capsule. GUI thread.

#include <QFont>
#include <QPainterPath>
#include <QWidget>

#include "lumenhollow/ui/panels/microphone_faces.h"

class QMenu;

namespace lumenhollow {

class MicrophoneMenuButton final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 30;

    explicit MicrophoneMenuButton(QWidget* parent);

    QMenu* menu() const { return menu_; }
    // Opens the menu under the face, as a press does (also Space or Return).
    void openMenu();
    void setLabel(const MicrophoneLabel& label);
    const MicrophoneLabel& label() const { return label_; }
    // The name as drawn, cut at the tail to the label's width.
    const QString& shownName() const { return shownName_; }

    QSize sizeHint() const override;
    // The width the shown name takes.
    double nameWidth() const { return nameWidth_; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void mousePressEvent(class QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QMenu* menu_;
    MicrophoneLabel label_;
    // Made when the label changes, so painting only draws.
    QFont nameFont_;
    QFont badgeFont_;
    QString shownName_;
    double nameWidth_ = 0;
    double badgeWidth_ = 0;
    QPainterPath badgePath_;
};

}  // namespace lumenhollow
