#include "lumenhollow/ui/kit/popover_scroll_area.h"

#include <QEvent>
#include <QLayout>
#include <QScrollBar>

#include <algorithm>
#include <optional>
#include <utility>

#include "lumenhollow/ui/kit/popover.h"

namespace lumenhollow::ui {

PopoverScrollArea::PopoverScrollArea(QWidget* rows, int width, int padding, std::function<int()> otherRows,
                                     QWidget* parent)
    : QScrollArea(parent), rows_(rows), width_(width), padding_(padding), otherRows_(std::move(otherRows)) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(true);
    // The popover's glass shows through.
    viewport()->setAutoFillBackground(false);
    if (QLayout* layout = rows_->layout()) {
        const QMargins margins = layout->contentsMargins();
        layout->setContentsMargins(padding_, margins.top(), padding_, margins.bottom());
    }
    setWidget(rows_);
    rows_->setAutoFillBackground(false);
    // Rows that come and go change what the area wants.
    rows_->installEventFilter(this);
}

bool PopoverScrollArea::eventFilter(QObject* watched, QEvent* event) {
    // Once the rows are laid out anew.
    if (watched == rows_ && event->type() == QEvent::LayoutRequest) {
        QMetaObject::invokeMethod(this, [this] { fitToRoom(); }, Qt::QueuedConnection);
    }
    return QScrollArea::eventFilter(watched, event);
}

void PopoverScrollArea::fitToRoom() {
    QLayout* layout = rows_->layout();
    if (!layout) return;
    // A row shown or hidden before the content is shown leaves the sizes
    // its group and the rows last measured in place until the group is laid
    // out, which waits for it to be shown: each is measured anew then. Once
    // shown, the layouts keep them true (and this would ask them again, and
    // again, for a new fit).
    if (!rows_->isVisible()) {
        for (QWidget* row : rows_->findChildren<QWidget*>()) {
            if (!row->isWindow()) row->updateGeometry();
        }
        layout->invalidate();
    }
    // The rows' height at their own width, whatever the margins now.
    const QMargins now = layout->contentsMargins();
    const int inner = width_ - 2 * padding_;
    const int wanted = rows_->hasHeightForWidth() ? rows_->heightForWidth(inner + now.left() + now.right())
                                                  : rows_->sizeHint().height();
    std::optional<int> room;
    if (const auto* popover = qobject_cast<const Popover*>(window())) {
        room = popover->bodyRoom(width_) - (otherRows_ ? otherRows_() : 0);
    }
    const int height = popoverScrollingHeight(wanted, room, least_);
    // A scroll bar only where the area is cut short: one left from a
    // shorter moment would narrow the rows and make them taller. It lies in
    // the right padding.
    const bool scrolls = height < wanted;
    setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    const int bar = scrolls ? verticalScrollBar()->sizeHint().width() : 0;
    layout->setContentsMargins(padding_, now.top(), std::max(0, padding_ - bar), now.bottom());
    setFixedHeight(height);
}

}  // namespace lumenhollow::ui
