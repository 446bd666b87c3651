#pragma once

// SheetChips: a row of text chips on faint capsules (the USB guide's
// advantages). Chips that do not fit the width move to another line, so a
// narrow card never cuts one off. GUI thread only.

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

class SheetChips final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kSpacing = 6;
    static constexpr int kInsetX = 8;
    static constexpr int kInsetY = 4;

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

    QStringList texts_;
    QFont font_;
    std::vector<double> widths_;
    std::vector<QRectF> rects_;
};

}  // namespace lumenhollow
