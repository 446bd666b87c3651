#include "lumenhollow/ui/kit/preview_events.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

namespace lumenhollow {

namespace {

PreviewKey previewKey(int key) {
    switch (key) {
        case Qt::Key_Up: return PreviewKey::up;
        case Qt::Key_Down: return PreviewKey::down;
        case Qt::Key_Left: return PreviewKey::left;
        case Qt::Key_Right: return PreviewKey::right;
        case Qt::Key_Escape: return PreviewKey::escape;
        default: return PreviewKey::none;
    }
}

// With Alt or Ctrl held, X11 and Qt give other text (or none) than the
// key's own character, so the keys the preview knows are read by key code.
std::string unmodifiedCharacters(const QKeyEvent& event) {
    const int key = event.key();
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return std::string(1, static_cast<char>('0' + (key - Qt::Key_0)));
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return std::string(1, static_cast<char>('a' + (key - Qt::Key_A)));
    switch (key) {
        case Qt::Key_Plus: return "+";
        case Qt::Key_Equal: return "=";
        case Qt::Key_Minus: return "-";
        default: break;
    }
    return event.text().toStdString();
}

}  // namespace

PreviewWheelEvent previewWheelEvent(QPoint pixelDelta, QPoint angleDelta) {
    if (!pixelDelta.isNull()) return PreviewWheelEvent{static_cast<double>(pixelDelta.y()), true};
    return PreviewWheelEvent{angleDelta.y() / kAngleDeltaPerNotch, false};
}

PreviewWheelEvent previewWheelEvent(const QWheelEvent& event) {
    return previewWheelEvent(event.pixelDelta(), event.angleDelta());
}

PreviewKeyEvent previewKeyEvent(const QKeyEvent& event) {
    PreviewKeyEvent out;
    out.key = previewKey(event.key());
    if (out.key == PreviewKey::none) out.text = unmodifiedCharacters(event);
    out.alt = event.modifiers().testFlag(Qt::AltModifier);
    out.autoRepeat = event.isAutoRepeat();
    return out;
}

bool routePreviewMouse(PreviewInput& input, QWidget& widget, const QMouseEvent& event) {
    const PreviewPoint point{event.position().x(), event.position().y()};
    switch (event.type()) {
        case QEvent::MouseButtonPress:
            if (event.button() != Qt::LeftButton) return false;
            endPreviewDrag(input, widget);  // a press without the last release
            input.mousePressed(point);
            widget.setCursor(Qt::ClosedHandCursor);
            return true;
        case QEvent::MouseMove:
            if (!input.isDragging()) return false;
            input.mouseDragged(point, widget.width());
            return true;
        case QEvent::MouseButtonRelease:
            if (event.button() != Qt::LeftButton) return false;
            endPreviewDrag(input, widget);
            return true;
        default: return false;
    }
}

void endPreviewDrag(PreviewInput& input, QWidget& widget) {
    if (!input.isDragging()) return;
    input.mouseReleased();
    widget.setCursor(Qt::OpenHandCursor);
}

}  // namespace lumenhollow
