#include "lumenhollow/ui/kit/pill_menu.h"

#include <QFontMetricsF>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>

#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/popup_screens.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {

namespace {

constexpr double kSpacing = 6;
constexpr double kSymbolPx = 12;
constexpr double kTitlePx = 12.5;
constexpr double kChevronOpacity = 0.7;
constexpr double kDisabledOpacity = 0.45;

QFont titleFont() { return uiFont(kTitlePx, QFont::Medium); }

// An icon glyph's box: square at its pixel size.
double symbolBox(double px) { return std::ceil(px); }

}  // namespace

double menuChevronWidth() { return symbolBox(kMenuChevronPx); }

double drawMenuChevron(QPainter& painter, double left, double mid, const QColor& ink) {
    const double box = menuChevronWidth();
    QColor faded = ink;
    faded.setAlphaF(static_cast<float>(ink.alphaF() * kChevronOpacity));
    Symbols::instance().draw(painter, QRectF(left, mid - box / 2, box, box), "chevron.down", kMenuChevronPx, faded);
    return box;
}

PillMenuLabel::PillMenuLabel(std::string symbol, QString title, QWidget* parent)
    : GlassSurface(GlassShape::capsule, parent), symbol_(std::move(symbol)), title_(std::move(title)) {
    setFixedHeight(PillBackground::kHeight);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
    ui::setTitle(*this, title_);
    relayout();
}

void PillMenuLabel::setSymbol(std::string symbol) {
    symbol_ = std::move(symbol);
    update();
}

void PillMenuLabel::setTitle(QString title) {
    title_ = std::move(title);
    ui::setTitle(*this, title_);
    relayout();
    update();
}

void PillMenuLabel::setWidthLimit(int width) {
    if (width == widthLimit_) return;
    widthLimit_ = width;
    relayout();
    update();
}

QSize PillMenuLabel::sizeHint() const {
    double width = symbolBox(kSymbolPx) + kSpacing + menuChevronWidth();
    if (!shownTitle_.isEmpty()) width += titleAdvance_ + kSpacing;
    return {static_cast<int>(std::ceil(width)) + 2 * PillBackground::kInset, PillBackground::kHeight};
}

void PillMenuLabel::relayout() {
    const QFont font = titleFont();
    const QFontMetricsF metrics(font);
    // What the pill has for the title besides its symbol, chevron and insets.
    const double titleRoom = widthLimit_ - 2 * PillBackground::kInset - symbolBox(kSymbolPx) - 2 * kSpacing -
                             menuChevronWidth();
    shownTitle_ = metrics.horizontalAdvance(title_) <= titleRoom
                      ? title_
                      : metrics.elidedText(title_, Qt::ElideRight, std::max(0.0, titleRoom));
    titleRun_ = shownTitle_.isEmpty() ? TextRun{} : layoutText(font, shownTitle_);
    titleAdvance_ = shownTitle_.isEmpty() ? 0 : metrics.horizontalAdvance(shownTitle_);
    titleBaselineShift_ = centredBaseline(metrics, 0);
    setFixedWidth(sizeHint().width());
    updateGeometry();
}

void PillMenuLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintSurface(painter);
    painter.setRenderHint(QPainter::Antialiasing);
    // A menu with nothing to choose shows its face dimmed, on the same glass.
    if (!isEnabled()) painter.setOpacity(kDisabledOpacity);
    const double mid = height() / 2.0;
    double x = PillBackground::kInset;
    const Symbols& symbols = Symbols::instance();
    symbols.draw(painter, QRectF(x, mid - symbolBox(kSymbolPx) / 2, symbolBox(kSymbolPx), symbolBox(kSymbolPx)),
                 symbol_, kSymbolPx, Qt::white);
    x += symbolBox(kSymbolPx) + kSpacing;
    if (!shownTitle_.isEmpty()) {
        painter.setPen(titlePen_);
        drawText(painter, QPointF(x, mid + titleBaselineShift_), titleRun_);
        x += titleAdvance_ + kSpacing;
    }
    drawMenuChevron(painter, x, mid, Qt::white);
    paintFocusRing(painter, *this, GlassShape::capsule, rect());
}

PillMenu::PillMenu(std::string symbol, QString title, QWidget* parent)
    : PillMenuLabel(std::move(symbol), std::move(title), parent), menu_(new QMenu(this)) {
    makePressable(*this, PressRole::menuButton, [this] { openMenu(); }, [this] { return menu_->isVisible(); });
}

PillMenu::PillMenu(std::string symbol, QString title, QMenu& menu, QWidget* parent)
    : PillMenuLabel(std::move(symbol), std::move(title), parent), menu_(&menu) {
    makePressable(*this, PressRole::menuButton, [this] { openMenu(); }, [this] { return menu_->isVisible(); });
}

void PillMenu::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    openMenu();
}

void PillMenu::openMenu() {
    if (!isEnabled()) return;
    menu_->popup(mapToGlobal(QPoint(0, height())));
    if (!menu_->isVisible()) return;
    follow(true);
    // With no room below the pill, the toolkit pulls the menu up over the
    // pill; it goes where it will be kept from now on instead, above it. Its
    // size is known only once shown: a menu may be filled as it opens.
    placeMenu();
}

QPoint pillMenuPosition(const QRect& pill, const QSize& menu, const QRect& screen) {
    int y = pill.bottom() + 1;
    const bool roomBelow = y + menu.height() <= screen.bottom() + 1;
    if (!roomBelow && pill.top() - menu.height() >= screen.top()) y = pill.top() - menu.height();
    return placeInside(QRect(QPoint(pill.left(), y), menu), screen);
}

void PillMenu::follow(bool on) {
    for (const QPointer<QWidget>& widget : watched_) {
        if (widget) widget->removeEventFilter(this);
    }
    watched_.clear();
    for (const QMetaObject::Connection& connection : following_) disconnect(connection);
    following_.clear();
    if (!on) return;
    // A fit or a layout moves the pill, or one of its parents, without
    // telling the pill: each is watched, the window included.
    for (QWidget* widget = this; widget; widget = widget->parentWidget()) {
        widget->installEventFilter(this);
        watched_.emplace_back(widget);
        if (widget->isWindow()) break;
    }
    // A screen made smaller may leave the window where it was: the menu
    // comes inside the screen's new bounds all the same.
    if (QScreen* screen = this->screen()) {
        following_.push_back(connect(screen, &QScreen::geometryChanged, this, [this] { placeMenu(); }));
        following_.push_back(connect(screen, &QScreen::availableGeometryChanged, this, [this] { placeMenu(); }));
    }
    // Closed by whatever means (or opened again by another face): no longer ours to move.
    following_.push_back(connect(menu_, &QMenu::aboutToHide, this, [this] { follow(false); }));
}

void PillMenu::placeMenu() {
    if (!menu_->isVisible()) {
        follow(false);
        return;
    }
    QScreen* screen = this->screen();
    if (!screen) return;
    const QRect pill(mapToGlobal(QPoint(0, 0)), size());
    const QPoint at = pillMenuPosition(pill, menu_->size(), screen->availableGeometry());
    if (at != menu_->pos()) menu_->move(at);
}

bool PillMenu::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::Move || type == QEvent::Resize) placeMenu();
    return PillMenuLabel::eventFilter(watched, event);
}

}  // namespace lumenhollow::ui
