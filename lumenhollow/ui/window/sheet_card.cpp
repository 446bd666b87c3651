#include "lumenhollow/ui/window/sheet_card.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace lumenhollow {

namespace {

// A slim bar on the card's right edge, inside its padding, so the content
// keeps nearly its whole width when it scrolls.
constexpr const char* kSheetScrollBarStyle =
    "QScrollBar:vertical { background: transparent; width: 10px; margin: 4px 3px 4px 0px; }"
    "QScrollBar::handle:vertical { background: rgba(255, 255, 255, 80); border-radius: 3px; min-height: 28px; }"
    "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0px; }"
    "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }";

// The line between scrolled content and the buttons.
constexpr QColor kSheetScrollEdge(255, 255, 255, 28);

}  // namespace

SheetCard::SheetCard(QWidget* parent, int padding, int spacing)
    : QWidget(parent),
      scroller_(new QScrollArea(this)),
      body_(new QWidget),
      content_(new QVBoxLayout(body_)),
      footer_(new QWidget(this)),
      buttons_(new QHBoxLayout(footer_)) {
    content_->setContentsMargins(padding, padding, padding, spacing);
    content_->setSpacing(spacing);
    buttons_->setContentsMargins(padding, 0, padding, padding);

    scroller_->setFrameShape(QFrame::NoFrame);
    scroller_->setWidgetResizable(true);
    scroller_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The sheet host keeps the keyboard; it passes the scrolling keys on.
    scroller_->setFocusPolicy(Qt::NoFocus);
    scroller_->verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
    scroller_->verticalScrollBar()->setStyleSheet(QString::fromLatin1(kSheetScrollBarStyle));
    scroller_->setWidget(body_);
    // The host paints the card; nothing inside fills over it.
    for (QWidget* layer : {static_cast<QWidget*>(scroller_), scroller_->viewport(), body_}) {
        layer->setAutoFillBackground(false);
    }
    connect(scroller_->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] { update(); });

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(scroller_, 1);
    root->addWidget(footer_);
}

int SheetCard::naturalHeight(int width) const {
    const int body = body_->hasHeightForWidth() ? body_->heightForWidth(width) : body_->sizeHint().height();
    const int footer = footer_->hasHeightForWidth() ? footer_->heightForWidth(width) : footer_->sizeHint().height();
    return body + footer;
}

void SheetCard::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // A scroll bar shown while the card was still small narrows the content,
    // and text wrapped one line more at that width keeps it there, though
    // the card now holds all of it at its whole width. A card that holds its
    // content has no bar; one cut short gets it as the content needs.
    const bool holdsAll = naturalHeight(width()) <= height();
    scroller_->setVerticalScrollBarPolicy(holdsAll ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
}

bool SheetCard::scrolls() const {
    return scroller_->verticalScrollBar()->maximum() > 0;
}

void SheetCard::scrollContent(int key) {
    QScrollBar& bar = *scroller_->verticalScrollBar();
    switch (key) {
        case Qt::Key_Up: bar.triggerAction(QAbstractSlider::SliderSingleStepSub); break;
        case Qt::Key_Down: bar.triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
        case Qt::Key_PageUp: bar.triggerAction(QAbstractSlider::SliderPageStepSub); break;
        case Qt::Key_PageDown: bar.triggerAction(QAbstractSlider::SliderPageStepAdd); break;
        case Qt::Key_Home: bar.triggerAction(QAbstractSlider::SliderToMinimum); break;
        case Qt::Key_End: bar.triggerAction(QAbstractSlider::SliderToMaximum); break;
        default: break;
    }
}

void SheetCard::paintEvent(QPaintEvent*) {
    if (!scrolls()) return;
    // Content runs on under the buttons: a faint edge says where it is cut.
    QPainter painter(this);
    painter.setPen(QPen(kSheetScrollEdge, 1));
    const double y = footer_->y() + 0.5;
    painter.drawLine(QPointF(0, y), QPointF(width(), y));
}

QColor sheetPrimaryText() {
    return Qt::white;
}

QColor sheetSecondaryText() {
    return QColor(255, 255, 255, 140);
}

QLabel* sheetLabel(const std::string& text, const QFont& font, const QColor& color, bool wrap, QWidget* parent) {
    auto* label = new QLabel(QString::fromStdString(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->setWordWrap(wrap);
    return label;
}

}  // namespace lumenhollow
