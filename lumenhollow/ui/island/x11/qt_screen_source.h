#pragma once

// QtScreenSource: the island's screens as Qt knows them, with each one's
// notch, and a change signal for each screen added, removed or resized.
// GUI thread only.

#include "lumenhollow/ui/island/island_platform.h"

namespace lumenhollow::ui {

class QtScreenSource final : public ScreenSource {
    Q_OBJECT
public:
    QtScreenSource(const NotchSource& notches, QObject* parent = nullptr);
    std::vector<ScreenInfo> screens() const override;

private:
    void watch(QScreen* screen);

    const NotchSource& notches_;
};

}  // namespace lumenhollow::ui
