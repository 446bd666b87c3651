#pragma once

// The glass pill with a symbol, an optional title and a small down chevron:
// the face of the bottom bar's menus and of the panel buttons. PillMenu opens
// its menu under itself; the pill has no action of its own. While the menu
// it opened is up, the menu stays at the pill: a move or fit of the window
// (or a layout that shifts the pill) and a change of the screen's size carry
// it along, so it never stays behind off the screen.

#include <QMetaObject>
#include <QPen>
#include <QPointer>
#include <QWidget>
#include <string>
#include <vector>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/typography.h"

class QMenu;
class QPainter;

namespace lumenhollow::ui {

// The small down chevron that marks a face as opening a menu (pills and
// pop-up buttons): 9 bold at 0.7 of `ink`, its box's left edge at `left`,
// centred on `mid`. Returns the box's width.
inline constexpr double kMenuChevronPx = 9;
double drawMenuChevron(QPainter& painter, double left, double mid, const QColor& ink);
double menuChevronWidth();

// Where a menu `menu` big opens for a pill at `pill` (global) on a screen
// whose usable area is `screen`: under the pill, left edges aligned; above
// it where there is no room below but room above; then pulled inside the
// screen where it fits.
QPoint pillMenuPosition(const QRect& pill, const QSize& menu, const QRect& screen);

// The face of a pill: the symbol at 12 semibold, the title at 12.5 medium on
// one line (none when empty), the chevron at 9 bold at 0.7, 6 apart, on a
// 30-high glass capsule with 12 of inset left and right.
class PillMenuLabel : public GlassSurface {
    Q_OBJECT
public:
    PillMenuLabel(std::string symbol, QString title, QWidget* parent);
    void setSymbol(std::string symbol);
    void setTitle(QString title);
    const QString& title() const { return title_; }
    // The widest the pill may be: a longer title is cut short with an
    // ellipsis (the accessible name keeps it whole).
    void setWidthLimit(int width);
    // The title as shown.
    const QString& shownTitle() const { return shownTitle_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void relayout();

    std::string symbol_;
    QString title_;
    QString shownTitle_;
    int widthLimit_ = QWIDGETSIZE_MAX;
    // The title laid out once per text, so painting allocates nothing.
    TextRun titleRun_;
    double titleAdvance_ = 0;
    double titleBaselineShift_ = 0;  // from the middle line down to the baseline
    QPen titlePen_{Qt::white};
};

class PillMenu : public PillMenuLabel {
    Q_OBJECT
public:
    PillMenu(std::string symbol, QString title, QWidget* parent);
    // Opens `menu`, which another owner keeps (one menu several faces open).
    PillMenu(std::string symbol, QString title, QMenu& menu, QWidget* parent);
    QMenu* menu() const { return menu_; }
    // Opens the menu under the pill, as a press does (also Space or Return).
    void openMenu();

protected:
    void mousePressEvent(class QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void follow(bool on);
    void placeMenu();

    QMenu* menu_;
    // While the menu this pill opened is up: the pill and its parents up to
    // the window, and the screen's size, watched to keep the menu at the pill.
    std::vector<QPointer<QWidget>> watched_;
    std::vector<QMetaObject::Connection> following_;
};

}  // namespace lumenhollow::ui
