#pragma once

// ZoomStepper: the island row's compact zoom: "−", the zoom factor, "+" on a
// faint capsule. Each half reports one step. GUI thread only.

#include <QFont>
#include <QWidget>

#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {

class IslandButton;

class ZoomStepper final : public QWidget {
    Q_OBJECT
public:
    explicit ZoomStepper(QWidget* parent);

    void setLabel(const QString& label);
    IslandButton& minusButton() const { return *minus_; }
    IslandButton& plusButton() const { return *plus_; }

Q_SIGNALS:
    void stepped(int steps);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    IslandButton* minus_;
    IslandButton* plus_;
    QFont font_;
    QString label_;
    TabularLine line_;
};

}  // namespace lumenhollow::ui
