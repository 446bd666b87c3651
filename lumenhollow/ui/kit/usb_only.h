#pragma once

// USB-only markers: dimmed look-alikes of a control whose feature needs the
// camera on USB. A click opens a popover that says why and offers to switch;
// the placing view decides when a marker stands in and what switching does.

#include <QAbstractButton>
#include <QWidget>
#include <functional>
#include <string>

#include "lumenhollow/ui/kit/popover.h"

namespace lumenhollow::ui {

// The two tooltip forms: the pill names the reason alone, the round marker
// starts with the feature's name.
QString usbOnlyPillTooltip(const QString& reason);
QString usbOnlyIconTooltip(const QString& title, const QString& reason);

// Sizes of the round marker of diameter `size`.
struct UsbIconMarkerMetrics {
    double glyphPx;  // the feature's symbol, 0.4 of the size
    double badgePx;  // the connector badge, 0.24 of the size but at least 8
    double inset;    // the badge from the bottom-right corner, 0.12 of the size
};
UsbIconMarkerMetrics usbIconMarkerMetrics(double size);

// The small "USB" tag: connector symbol and text at 10 semibold on a capsule
// of white at 0.14.
QSizeF usbTagSize();
void paintUsbTag(QPainter& painter, const QPointF& topLeft);

// The explanation, shown in the kit's popover: "<title> needs USB", the
// reason wrapped to the width, and "Switch to USB", the default button
// (Return). Exactly 290 wide; the height follows the text. The switch runs
// once; `switchToUsb` closes the popover before it acts.
class UsbOnlyPopover : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 290;
    static constexpr int kInset = 14;

    UsbOnlyPopover(const QString& title, const QString& reason, std::function<void()> switchToUsb,
                   QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void runSwitch();

    std::function<void()> switchToUsb_;
};

// Shared by both markers: a click opens or closes its popover, which holds
// the explanation.
class UsbOnlyMarker : public QAbstractButton {
    Q_OBJECT
public:
    bool isPresented() const;
    Popover* popover() const { return popover_; }
    void setSwitchToUsb(std::function<void()> action) { switchToUsb_ = std::move(action); }

protected:
    UsbOnlyMarker(std::string symbol, QString title, QString reason, std::function<void()> switchToUsb,
                  bool opensBelow, QWidget* parent);
    void togglePopover();

    std::string symbol_;
    QString title_;
    QString reason_;

private:
    std::function<void()> switchToUsb_;
    Popover* popover_;
};

// Stands in for a pill control: symbol and title at 0.55, then the tag.
class UsbOnlyPill : public UsbOnlyMarker {
    Q_OBJECT
public:
    UsbOnlyPill(std::string symbol, QString title, QString reason, std::function<void()> switchToUsb,
                QWidget* parent);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};

// Stands in for an IconButton: the symbol at 0.45 with a connector badge.
class UsbOnlyIconButton : public UsbOnlyMarker {
    Q_OBJECT
public:
    UsbOnlyIconButton(std::string symbol, QString title, QString reason, int size,
                      std::function<void()> switchToUsb, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};

}  // namespace lumenhollow::ui
