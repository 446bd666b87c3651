#include "lumenhollow/ui/panels/scenes_panel.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QDrag>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <vector>

#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/kit/shortcuts.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/text_button.h"
#include "lumenhollow/ui/kit/typography.h"
#include "lumenhollow/ui/panels/scene_row.h"
#include "lumenhollow/ui/panels/scenes_panel_state.h"

namespace lumenhollow {

namespace {

QLabel* scenesLabel(const QString& text, const QFont& font, double opacity, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, ui::withOpacity(QColor(Qt::white), opacity));
    label->setPalette(palette);
    return label;
}

QLabel* scenesSymbol(const char* symbol, double px, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFont(ui::Symbols::instance().font(px));
    if (auto glyph = ui::Symbols::instance().glyph(symbol)) label->setText(QString(*glyph));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, ui::withOpacity(QColor(Qt::white), 0.55));
    label->setPalette(palette);
    return label;
}

QFrame* scenesDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: rgba(255, 255, 255, 30);"));
    return line;
}

bool supportsPositioning(ModelSignals& model) { return model.model().camera().supportsPositioning(); }

// The rows draw themselves: the list paints no selection, hover or focus
// behind them.
class BareItemDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter*, const QStyleOptionViewItem&, const QModelIndex&) const override {}
};

// The list of rows, reordered by dragging a row: the picture under the
// pointer is the row as the popover shows it. A drag takes the row it
// starts on, whichever part of the row it starts on: the row's background
// and its position line are the list's own, while its buttons and its name
// (unless the name is being edited, where a drag selects text) hand a drag
// over to the list once the pointer has moved far enough.
class SceneList final : public QListWidget {
public:
    explicit SceneList(QWidget* parent);

    // The rows in the list's order.
    std::vector<QWidget*> rows() const {
        std::vector<QWidget*> shown;
        for (int i = 0; i < count(); ++i) {
            if (QWidget* row = itemWidget(item(i))) shown.push_back(row);
        }
        return shown;
    }

    // Lets a drag start on the row's own controls.
    void watchRow(QWidget* row) {
        for (QWidget* control : row->findChildren<QWidget*>()) {
            if (qobject_cast<QAbstractButton*>(control) || qobject_cast<QLineEdit*>(control)) {
                control->installEventFilter(this);
            }
        }
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        pressedAt_ = event->position().toPoint();
        QListWidget::mousePressEvent(event);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* control = qobject_cast<QWidget*>(watched);
        if (!control) return QListWidget::eventFilter(watched, event);
        switch (event->type()) {
            case QEvent::FocusIn:
                // A press that brings the keyboard into a name does not start an edit yet.
                if (static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason) focusedByPress_ = control;
                break;
            case QEvent::MouseButtonPress: {
                const auto* press = static_cast<QMouseEvent*>(event);
                const bool editing = qobject_cast<QLineEdit*>(control) && control->hasFocus() &&
                                     focusedByPress_ != control;
                focusedByPress_ = nullptr;
                held_ = press->button() == Qt::LeftButton && !editing ? control : nullptr;
                if (held_) pressedAt_ = control->mapTo(viewport(), press->position().toPoint());
                break;
            }
            case QEvent::MouseMove: {
                // Once handed over the control sees no more of this press.
                if (handedOver_ == control) return true;
                const auto* move = static_cast<QMouseEvent*>(event);
                if (held_ != control || !(move->buttons() & Qt::LeftButton)) break;
                const QPoint at = control->mapTo(viewport(), move->position().toPoint());
                if ((at - pressedAt_).manhattanLength() < QApplication::startDragDistance()) break;
                handOver(control);
                // From the list's own turn of the event loop: the drag runs
                // one of its own, in which the drop may rebuild the rows and
                // take this control away.
                QMetaObject::invokeMethod(this, [this] { startDrag(model()->supportedDragActions()); },
                                          Qt::QueuedConnection);
                return true;
            }
            case QEvent::MouseButtonRelease:
                held_ = nullptr;
                if (handedOver_ == control) {
                    handedOver_ = nullptr;
                    return true;
                }
                break;
            default: break;
        }
        return QListWidget::eventFilter(watched, event);
    }

    void startDrag(Qt::DropActions actions) override {
        const QModelIndex pressed = indexAt(pressedAt_);
        if (!pressed.isValid()) return;
        // The drop moves the selected row: the one the drag started on.
        setCurrentIndex(pressed);
        QMimeData* mime = model()->mimeData({pressed});
        if (!mime) return;
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        if (QWidget* row = indexWidget(pressed)) {
            // The row over the popover's own glass, so its white text reads
            // wherever it is carried.
            QWidget* top = row->window();
            drag->setPixmap(top->grab(QRect(row->mapTo(top, QPoint(0, 0)), row->size())));
            // Held at the point the press took it.
            drag->setHotSpot(pressedAt_ - visualRect(pressed).topLeft());
        }
        // A drop moves the row inside the list (dropEvent); nothing is
        // removed here, whatever the drag reports.
        drag->exec(actions & Qt::MoveAction, Qt::MoveAction);
    }

private:
    // The control the press was on lets go of it without acting on it (a
    // button is not clicked, a name not edited): the press became a drag.
    void handOver(QWidget* control) {
        held_ = nullptr;
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(-1, -1), control->mapToGlobal(QPointF(-1, -1)),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(control, &release);
        handedOver_ = control;
        if (control->hasFocus()) setFocus(Qt::OtherFocusReason);
    }

    QPoint pressedAt_;  // in the viewport
    QPointer<QWidget> held_;            // a row's control pressed, not yet dragged
    QPointer<QWidget> focusedByPress_;  // a name the press in progress brought the keyboard to
    QPointer<QWidget> handedOver_;      // a row's control whose press became a drag
};

// The list as a screen reader finds it: a list whose children are the rows
// themselves, with their picture, name and buttons; the toolkit's own view
// of a list offers only its entries' texts, not the widgets set on them.
class SceneListAccessible final : public QAccessibleWidget {
public:
    explicit SceneListAccessible(SceneList* list) : QAccessibleWidget(list, QAccessible::List) {}

    int childCount() const override { return static_cast<int>(list()->rows().size()); }
    QAccessibleInterface* child(int index) const override {
        const std::vector<QWidget*> rows = list()->rows();
        if (index < 0 || static_cast<size_t>(index) >= rows.size()) return nullptr;
        return QAccessible::queryAccessibleInterface(rows[static_cast<size_t>(index)]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const std::vector<QWidget*> rows = list()->rows();
        const auto found = std::find(rows.begin(), rows.end(), child ? child->object() : nullptr);
        return found == rows.end() ? -1 : static_cast<int>(found - rows.begin());
    }

private:
    SceneList* list() const { return static_cast<SceneList*>(widget()); }
};

QAccessibleInterface* sceneListAccessible(const QString&, QObject* object) {
    auto* list = dynamic_cast<SceneList*>(object);
    return list ? new SceneListAccessible(list) : nullptr;
}

SceneList::SceneList(QWidget* parent) : QListWidget(parent) {
    static const bool known = [] {
        QAccessible::installFactory(sceneListAccessible);
        return true;
    }();
    Q_UNUSED(known);
    // One asked for while the list was being made is the toolkit's: dropped.
    if (QAccessible::isActive()) {
        QAccessibleInterface* made = QAccessible::queryAccessibleInterface(this);
        if (made && !dynamic_cast<SceneListAccessible*>(made)) {
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
        }
    }
    setItemDelegate(new BareItemDelegate(this));
}

}  // namespace

ScenesPanel::ScenesPanel(ModelSignals& model, QWidget* parent) : QWidget(parent), model_(model) {
    setFixedWidth(kWidth);
    // A click on the panel itself (its header, its captions, the room
    // between them) takes the keyboard from a name being edited, which
    // commits it, as a click anywhere else does.
    setFocusPolicy(Qt::ClickFocus);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(14, 12, 14, 8);
    header->addWidget(scenesLabel(tr("Scenes"), ui::uiFont(ui::TextStyle::headline), 1.0, this));
    header->addStretch(1);
    count_ = scenesLabel(QString(), ui::uiFont(ui::TextStyle::caption), 0.55, this);
    count_->setObjectName(QStringLiteral("count"));
    header->addWidget(count_);
    column->addLayout(header);
    column->addWidget(scenesDivider(this));

    note_ = new QWidget(this);
    auto* noteRow = new QHBoxLayout(note_);
    noteRow->setContentsMargins(14, 14, 14, 14);
    noteRow->addWidget(scenesSymbol("scope", 13, note_));
    auto* noteText = scenesLabel(tr("Scenes become available once the camera reports its gimbal angles."),
                                 ui::uiFont(ui::TextStyle::callout), 0.55, note_);
    noteText->setWordWrap(true);
    noteRow->addWidget(noteText, 1);
    column->addWidget(note_);

    empty_ = new QWidget(this);
    auto* emptyColumn = new QVBoxLayout(empty_);
    emptyColumn->setContentsMargins(0, 22, 0, 22);
    emptyColumn->setSpacing(6);
    emptyColumn->addWidget(scenesSymbol("rectangle.on.rectangle.angled", 26, empty_), 0, Qt::AlignHCenter);
    const QString recall = QString::fromStdString(ui::shortcutText(ui::sceneRecallShortcut(0))) +
                           QStringLiteral("\u20139");
    auto* emptyText = scenesLabel(tr("Aim the camera, then save the position.\nRecall it later with %1.").arg(recall),
                                  ui::uiFont(ui::TextStyle::callout), 0.55, empty_);
    emptyText->setAlignment(Qt::AlignHCenter);
    emptyColumn->addWidget(emptyText);
    column->addWidget(empty_);

    list_ = new SceneList(this);
    list_->setObjectName(QStringLiteral("scenes"));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setDragDropMode(QAbstractItemView::InternalMove);
    list_->setDefaultDropAction(Qt::MoveAction);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setStyleSheet(QStringLiteral("QListWidget { background: transparent; }"));
    // A finished drag is the model's move: the list reports it as the rows
    // it took and where they went, counted before the move.
    connect(list_->model(), &QAbstractItemModel::rowsMoved, this,
            [this](const QModelIndex&, int first, int last, const QModelIndex&, int destination) {
                std::set<int> sources;
                for (int row = first; row <= last; ++row) sources.insert(row);
                model_.model().moveScenes(sources, destination);
            });
    column->addWidget(list_);
    column->addWidget(scenesDivider(this));

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(12, 12, 12, 12);
    save_ = new ui::TextButton(ui::TextButtonKind::plain, tr("Save Current Position"), this,
                               ui::TextButtonSize::regular, "plus");
    save_->setObjectName(QStringLiteral("save"));
    save_->setToolTip(QString::fromStdString(ui::withShortcut(tr("Save Current Position").toStdString(),
                                                              ui::saveSceneShortcut())));
    connect(save_, &QPushButton::clicked, this, [this] { model_.model().saveCurrentPositionAsScene(); });
    footer->addWidget(save_);
    footer->addStretch(1);
    footer->addWidget(scenesLabel(tr("Drag to reorder"), ui::uiFont(ui::TextStyle::caption), 0.3, this));
    column->addLayout(footer);

    // A switch of the route changes the camera and with it the body.
    model_.onChange(joinFields(FieldList<1>{Field::scenes}, kActiveCameraFields), this, [this] { refresh(); });
    refresh();
}

std::vector<SceneRow*> ScenesPanel::rows() const {
    std::vector<SceneRow*> rows;
    for (int i = 0; i < list_->count(); ++i) {
        if (auto* row = qobject_cast<SceneRow*>(list_->itemWidget(list_->item(i)))) rows.push_back(row);
    }
    return rows;
}

void ScenesPanel::commitTypedName() {
    // At most one row: leaving a field commits it.
    for (SceneRow* row : rows()) {
        if (row->hasTypedName()) row->commitRename();
    }
}

void ScenesPanel::refresh() {
    const auto& scenes = model_.state().scenes;
    const bool positioning = supportsPositioning(model_);
    count_->setText(QString::fromStdString(scenesCountText(scenes.size())));
    const ScenesBody body = scenesBody(positioning, scenes.size());
    note_->setVisible(body == ScenesBody::needsPositioning);
    empty_->setVisible(body == ScenesBody::empty);
    list_->setVisible(body == ScenesBody::list);
    save_->setEnabled(canSaveScene(positioning, scenes.size()));
    std::vector<std::string> ids;
    for (const CameraScene& scene : scenes) ids.push_back(scene.id);
    if (ids != shownIds_) {
        rebuildRows();
    } else {
        int index = 0;
        for (SceneRow* row : rows()) {
            const CameraScene& scene = scenes[static_cast<size_t>(index)];
            row->setScene(scene, index);
            list_->item(index)->setData(Qt::AccessibleTextRole, QString::fromStdString(scene.name));
            ++index;
        }
    }
    const int fixed = scenesListHeight(scenes.size());
    list_->setFixedHeight(fixed);
    if (const auto* popover = qobject_cast<const ui::Popover*>(window())) {
        // The list takes what the header and the footer leave of the
        // tallest popover the screen holds.
        const int others = layout()->sizeHint().height() - fixed;
        list_->setFixedHeight(scenesListHeight(scenes.size(), popover->bodyRoom(kWidth) - others));
    }
}

void ScenesPanel::rebuildRows() {
    // Rows are known by their scene's id: a name being typed, and the
    // keyboard in it, pass to the new row of the same scene. The old rows
    // are retired first, so taking them away (which moves the keyboard)
    // commits no name in the middle of this change of the list.
    std::optional<std::string> editedId;
    std::optional<QString> typed;
    bool focused = false;
    for (SceneRow* row : rows()) {
        if (row->hasTypedName() || row->nameHasFocus()) {
            editedId = row->scene().id;
            typed = row->typedName();
            focused = row->nameHasFocus();
        }
        row->retire();
    }
    // The rows go once the signal that brought the change has returned
    // (the list deletes its row widgets later): a row's own delete button
    // may be what asked for this.
    list_->clear();
    shownIds_.clear();
    const auto& scenes = model_.state().scenes;
    for (size_t i = 0; i < scenes.size(); ++i) {
        auto* item = new QListWidgetItem(list_);
        item->setSizeHint(QSize(kWidth, kSceneRowHeight));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
        // The row draws itself; a screen reader reads the list's entry by this.
        item->setData(Qt::AccessibleTextRole, QString::fromStdString(scenes[i].name));
        auto* row = new SceneRow(model_, scenes[i], static_cast<int>(i), list_);
        list_->setItemWidget(item, row);
        static_cast<SceneList*>(list_)->watchRow(row);
        if (editedId == scenes[i].id) row->resumeTyping(typed, focused);
        shownIds_.push_back(scenes[i].id);
    }
    // New rows join the end of the window's Tab chain, after the footer:
    // the footer's button goes back behind the last row's controls, so Tab
    // reads the panel from the top down.
    if (list_->count() > 0) {
        QWidget* lastRow = list_->itemWidget(list_->item(list_->count() - 1));
        QWidget* lastControl = nullptr;
        for (QWidget* w = lastRow->nextInFocusChain(); w != lastRow && lastRow->isAncestorOf(w);
             w = w->nextInFocusChain()) {
            if (w->focusPolicy() & Qt::TabFocus) lastControl = w;
        }
        if (lastControl) QWidget::setTabOrder(lastControl, save_);
    }
}

}  // namespace lumenhollow
