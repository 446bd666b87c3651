#pragma once

// SheetChips: a row of text chips on faint capsules (the USB guide's
// advantages). They keep to one row: where the texts with their full inset
// are a little wider than the row, the chips' side insets give way first;
// only chips that still do not fit move to another line, so a narrow card
// never cuts one off. GUI thread only.

#include <QFont>
#include <QRectF>
#include <QStringList>
#include <QWidget>

#include <vector>

namespace lumenhollow {

// Left-to-right places of chips `widths` wide and `height` high in lines
// `available` wide, `spacing` apart in both directions. A chip wider than a
// line takes a line of its own at the line's width.
std::vector<QRectF> flowChips(const std::vector<double>& widths, double available, double height, double spacing);

// The side inset, from `inset` down to no less than `minInset`, with which
// texts `textWidths` wide fit one line `available` wide, `spacing` apart.
double fittedChipInset(const std::vector<double>& textWidths, double available, double spacing, double inset,
                       double minInset);

class SheetChips final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kSpacing = 6;
    static constexpr int kInsetX = 8;
    static constexpr int kInsetY = 4;
    static constexpr int kMinInsetX = 3;

    SheetChips(QStringList texts, QWidget* parent);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The chips' places at the current width.
    const std::vector<QRectF>& chipRects() const { return rects_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    double chipHeight() const;
    std::vector<double> chipWidths(double available) const;

    QStringList texts_;
    QFont font_;
    std::vector<double> textWidths_;
    std::vector<QRectF> rects_;
};

}  // namespace lumenhollow
