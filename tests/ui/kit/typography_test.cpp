#include "lumenhollow/ui/kit/typography.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QVariantAnimation>

#include "lumenhollow/ui/kit/spinner.h"

namespace lumenhollow::ui {
namespace {

TEST(Typography, TextIsTheBundledFaceAtExactPixelSizes) {
    for (const double px : {10.0, 12.0, 13.0, 16.0, 17.0}) {
        const QFontInfo info(uiFont(px));
        EXPECT_EQ(info.family(), QStringLiteral("Inter")) << px;
        EXPECT_EQ(info.pixelSize(), static_cast<int>(px)) << px;
    }
    EXPECT_EQ(QFontInfo(uiFont(TextStyle::headline)).weight(), QFont::Bold);
    EXPECT_EQ(QFontInfo(QApplication::font()).family(), QStringLiteral("Inter"));
}

TEST(Typography, DigitsTakeEqualCellsSoFiguresDoNotJitter) {
    const QFontMetricsF metrics(uiFont(16, QFont::DemiBold));
    const double width = tabularWidth(metrics, QStringLiteral("00:00"));
    for (const char* text : {"11:11", "01:01", "59:59", "48:27"}) {
        EXPECT_DOUBLE_EQ(tabularWidth(metrics, QString::fromLatin1(text)), width) << text;
    }
    // Proportional digits would differ here.
    EXPECT_NE(metrics.horizontalAdvance(QStringLiteral("11:11")), metrics.horizontalAdvance(QStringLiteral("00:00")));
}

TEST(Typography, ALineSetOnceMatchesTheTabularMeasure) {
    const QFontMetricsF metrics(uiFont(16, QFont::DemiBold));
    const QString cases[] = {QStringLiteral("01:01"), QStringLiteral("88:88"), QStringLiteral("Starts in 3"),
                             QStringLiteral("")};
    for (const QString& text : cases) {
        SCOPED_TRACE(text.toStdString());
        const TabularLine line = layoutTabular(metrics, text);
        EXPECT_DOUBLE_EQ(line.width, tabularWidth(metrics, text));
        ASSERT_EQ(line.pieces.size(), static_cast<size_t>(text.size()));
        ASSERT_EQ(line.offsets.size(), line.pieces.size());
        for (size_t i = 1; i < line.offsets.size(); ++i) EXPECT_GT(line.offsets[i], line.offsets[i - 1]);
    }
    // Equal cells: every digit of two times starts at the same place.
    const TabularLine ones = layoutTabular(metrics, QStringLiteral("11:11"));
    const TabularLine eights = layoutTabular(metrics, QStringLiteral("88:88"));
    EXPECT_DOUBLE_EQ(ones.width, eights.width);
    EXPECT_DOUBLE_EQ(ones.offsets[3] - ones.offsets[0], eights.offsets[3] - eights.offsets[0]);
}

// A line drawn once, then again in another font, looks as a line set
// afresh in that font: its placed glyphs follow the painter's font.
TEST(Typography, ALineDrawnInAnotherFontIsPlacedAgain) {
    const auto draw = [](const QFont& font, const TabularLine& line) {
        QImage image(120, 40, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::white);
        drawTabular(painter, QPointF(4, 30), line);
        return image;
    };
    const QFont small = uiFont(11, QFont::Normal);
    const QFont large = uiFont(20, QFont::Bold);
    const QString text = QStringLiteral("12:34");
    const TabularLine line = layoutTabular(QFontMetricsF(small), text);
    const QImage first = draw(small, line);
    const QImage again = draw(large, line);
    EXPECT_NE(first, again);
    EXPECT_EQ(again, draw(large, layoutTabular(QFontMetricsF(small), text)));
    EXPECT_EQ(draw(small, line), first);
}

// Text laid out once draws as the painter's own text does.
TEST(Typography, ATextRunDrawsAsPlainText) {
    const QFont font = uiFont(12.5, QFont::Medium);
    const QString text = QStringLiteral("Osmo Pocket · USB");
    QImage plain(200, 30, QImage::Format_ARGB32_Premultiplied);
    plain.fill(Qt::black);
    QImage run = plain;
    {
        QPainter painter(&plain);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QPointF(5, 20), text);
    }
    {
        QPainter painter(&run);
        painter.setPen(Qt::white);
        drawText(painter, QPointF(5, 20), layoutText(font, text));
    }
    EXPECT_EQ(run, plain);
}

TEST(Spinner, StandsStillWithAnimationsOff) {
    Spinner spinner(Spinner::Size::large, nullptr);
    spinner.show();
    const QImage first = spinner.grab().toImage();
    // Nothing runs that could turn it.
    EXPECT_TRUE(spinner.findChildren<QVariantAnimation*>().isEmpty());
    EXPECT_EQ(spinner.phase(), 0.0);
    EXPECT_EQ(spinner.grab().toImage(), first);
    EXPECT_EQ(spinner.size(), QSize(32, 32));
    EXPECT_EQ(Spinner(Spinner::Size::mini, nullptr).size(), QSize(12, 12));
}

}  // namespace
}  // namespace lumenhollow::ui
