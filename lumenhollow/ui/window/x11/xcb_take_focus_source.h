#pragma once

// XcbTakeFocusSource: WM_TAKE_FOCUS messages and focus changes read from
// Qt's own X connection by an application-wide native event filter, which
// lets every event go on to Qt. Qt's windows list WM_TAKE_FOCUS among their protocols,
// so every ICCCM window manager sends it. One per application, made by the
// composition root; GUI thread only.

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <memory>

#include "lumenhollow/ui/window/take_focus_source.h"

namespace lumenhollow {

class XcbTakeFocusSource final : public TakeFocusSource, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    // Nothing away from X11, or when the server does not answer.
    static std::unique_ptr<XcbTakeFocusSource> create(QObject* parent = nullptr);
    ~XcbTakeFocusSource() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    XcbTakeFocusSource(uint32_t protocolsAtom, uint32_t takeFocusAtom, QObject* parent);

    const uint32_t protocolsAtom_;
    const uint32_t takeFocusAtom_;
};

}  // namespace lumenhollow
