#pragma once

// PopUpButton: a form's pop-up menu, a small plain TextButton showing the
// current option with the menu chevron at its right. A press (or Space,
// Return, Down) opens a kit-styled QMenu of the options under it, the
// current one checked; choosing a row emits activated(row) and shows it.
// The owner decides what a choice does and may set the row back.
// GUI thread only.

#include <QStringList>

#include "lumenhollow/ui/kit/text_button.h"

class QMenu;

namespace lumenhollow::ui {

class PopUpButton final : public TextButton {
    Q_OBJECT
public:
    // `title` names the control for a screen reader ("Resolution").
    PopUpButton(const QString& title, const QStringList& options, QWidget* parent);

    int currentIndex() const { return current_; }
    // Shows `row` and checks it in the menu; no signal.
    void setCurrentIndex(int row);
    QMenu* menu() const { return menu_; }

    // As wide as the widest option, so the face never jumps.
    QSize sizeHint() const override;

Q_SIGNALS:
    void activated(int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void openMenu();

    QStringList options_;
    QMenu* menu_;
    int current_ = -1;
};

}  // namespace lumenhollow::ui
