#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>

#include "lumenhollow/ui/island/island_platform.h"

namespace lumenhollow::ui {

// The window's input region: the island's area while passing through, the
// whole window otherwise. Away from X11, Qt's all-or-nothing flag. GUI
// thread only.
class WindowPanelInput final : public PanelInput {
public:
    explicit WindowPanelInput(QWidget& panel);
    void setPassThrough(bool on) override;
    bool passThrough() const override { return on_; }
    void setIslandArea(const QRect& area) override;

private:
    void apply();

    QPointer<QWidget> panel_;
    bool on_ = true;
    QRect area_;
};

}  // namespace lumenhollow::ui
