#pragma once

// SegmentedControl: a row of equal segments, one of them chosen, as the
// panels' small pickers use (shape, size, background). It shows the index it
// is given and reports a click on a segment through segmentChosen() without
// changing what it shows: the owner writes its model and sets the index
// back, so a refused choice never shows. A screen reader finds the control
// as a group under its own name with one radio button per segment, named by
// segmentName(), checked when chosen and pressed through the same path as a
// click. GUI thread.

#include <QRectF>
#include <QStaticText>
#include <QStringList>
#include <QWidget>
#include <vector>

namespace lumenhollow::ui {

// The segments' rectangles in a control of `size`: equal widths, the last
// one taking what rounding leaves; none for no segments.
std::vector<QRectF> segmentRects(const QSizeF& size, int count);

// What names a segment for a screen reader: its title, or where the title is
// blank or only icon characters (the symbol font's private-use glyphs), its
// help.
QString segmentName(const QString& title, const QString& help);

class SegmentAccessible;

class SegmentedControl final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 22;
    static constexpr double kCornerRadius = 6;

    SegmentedControl(const QStringList& titles, QWidget* parent);

    // -1 or out of range: none chosen.
    void setCurrentIndex(int index);
    int currentIndex() const { return current_; }
    int count() const { return static_cast<int>(titles_.size()); }
    // Help per segment, in the order of the titles: the tooltip over the
    // segment and its name where its title says nothing.
    void setSegmentHelp(const QStringList& help);
    QString segmentTitle(int index) const { return titles_.value(index); }
    QString segmentHelp(int index) const { return help_.value(index); }
    // The segment under `pos`, or -1.
    int segmentAt(const QPointF& pos) const;

    QSize sizeHint() const override;

Q_SIGNALS:
    void segmentChosen(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    friend class SegmentAccessible;
    // Reports a choice of `index`, as a click on it does.
    void choose(int index);
    // Tells a screen reader which segments' checked states changed.
    void announceChoice(int from, int to);

    QStringList titles_;
    QStringList help_;
    std::vector<QStaticText> texts_;  // laid out once, drawn every frame
    int current_ = -1;
};

}  // namespace lumenhollow::ui
