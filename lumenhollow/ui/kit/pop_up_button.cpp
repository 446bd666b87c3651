#include "lumenhollow/ui/kit/pop_up_button.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <algorithm>

#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/choice_row.h"

namespace lumenhollow::ui {

PopUpButton::PopUpButton(const QString& title, const QStringList& options, QWidget* parent)
    : TextButton(TextButtonKind::plain, QString(), parent, TextButtonSize::small),
      options_(options),
      menu_(new QMenu(this)) {
    setMenuChevron(true);
    ui::setTitle(*this, title);
    for (int row = 0; row < options_.size(); ++row) {
        QAction* action = menu_->addAction(options_[row]);
        ui::makeChoiceRow(*action, false);
        connect(action, &QAction::triggered, this, [this, row] {
            setCurrentIndex(row);
            Q_EMIT activated(row);
        });
    }
    setCurrentIndex(options_.isEmpty() ? -1 : 0);
}

void PopUpButton::setCurrentIndex(int row) {
    if (row < -1 || row >= options_.size()) row = -1;
    current_ = row;
    const QList<QAction*> actions = menu_->actions();
    // Every row is a choice; the style marks the current one with a check.
    for (int i = 0; i < actions.size(); ++i) ui::markChoiceRow(*actions[i], i == row);
    setText(row < 0 ? QString() : options_[row]);
}

QSize PopUpButton::sizeHint() const {
    int width = widthFor(QString());
    for (const QString& option : options_) width = std::max(width, widthFor(option));
    return {width, TextButton::sizeHint().height()};
}

void PopUpButton::openMenu() {
    menu_->setMinimumWidth(width());
    menu_->popup(mapToGlobal(QPoint(0, height())));
}

void PopUpButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    // Open on the press, as a menu does; the button never stays down.
    openMenu();
}

void PopUpButton::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Down: openMenu(); break;
        default: TextButton::keyPressEvent(event);
    }
}

}  // namespace lumenhollow::ui
