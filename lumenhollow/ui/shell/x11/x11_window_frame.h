#pragma once

// What the window manager keeps to itself of the main window on X11, asked
// of the server over Qt's own connection: the extents of its frame around a
// window (_NET_FRAME_EXTENTS, set when it frames the window, which may be
// some time after the window was shown and fitted), word when it sets them,
// and whether a pointer button is held (its live resize of a window goes on
// until the button is let go, and the window hears nothing of it). For the
// window sizer; GUI thread only.

#include <QAbstractNativeEventFilter>
#include <QMargins>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace lumenhollow {

// The frame's extents around `window` as the window manager last set them;
// nothing away from X11, for a window without a native window, or before a
// window manager has framed it.
std::optional<QMargins> x11FrameExtents(const QWidget& window);

// Whether any pointer button is down, whoever holds the pointer; false away
// from X11.
bool x11PointerButtonHeld();

// Tells `changed` the native window (an X id) whose frame extents the window
// manager has just set, for every window of the application. An
// application-wide native event filter that lets every event go on to Qt.
class X11FrameExtentsWatch final : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    // Nothing away from X11, or when the server does not answer.
    static std::unique_ptr<X11FrameExtentsWatch> create(std::function<void(uint32_t window)> changed,
                                                        QObject* parent = nullptr);
    ~X11FrameExtentsWatch() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    X11FrameExtentsWatch(uint32_t extentsAtom, std::function<void(uint32_t window)> changed, QObject* parent);

    const uint32_t extentsAtom_;
    std::function<void(uint32_t window)> changed_;
};

}  // namespace lumenhollow
