#pragma once

// Stand-ins for the island's desktop: screens set by their owner (a fake
// notch among them), a pointer moved by its owner, and an input switch that
// only remembers. For the island's tests and the screenshot tool; header
// only, so the libraries without Qt never see it.

#include <utility>
#include <vector>

#include "lumenhollow/ui/island/island_platform.h"

namespace lumenhollow::ui::test {

class FakeScreenSource final : public ScreenSource {
public:
    std::vector<ScreenInfo> screens() const override { return screens_; }
    void set(std::vector<ScreenInfo> screens) {
        screens_ = std::move(screens);
        Q_EMIT changed();
    }

private:
    std::vector<ScreenInfo> screens_{plainScreen()};

public:
    static ScreenInfo plainScreen() { return {"plain", QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080), true, {}}; }
    // A 1512x982 screen with a 200x32 notch.
    static ScreenInfo notchedScreen() {
        return {"notched", QRect(0, 0, 1512, 982), QRect(0, 32, 1512, 950), true, ScreenNotch{32, 656, 656}};
    }
};

class FakePointerSource final : public PointerSource {
public:
    PointerSample sample() const override { return sample_; }
    void setWatching(bool watching) override { watching_ = watching; }
    bool watching() const { return watching_; }
    void moveTo(QPoint position) {
        sample_.position = position;
        Q_EMIT moved();
    }
    void setButtons(bool held) {
        sample_.buttonsHeld = held;
        Q_EMIT moved();
    }

private:
    PointerSample sample_{QPoint(0, 800), false};
    bool watching_ = false;
};

class FakePanelInput final : public PanelInput {
public:
    void setPassThrough(bool on) override { on_ = on; }
    bool passThrough() const override { return on_; }
    void setIslandArea(const QRect& area) override { area_ = area; }
    QRect islandArea() const { return area_; }

private:
    bool on_ = true;
    QRect area_;
};

}  // namespace lumenhollow::ui::test
