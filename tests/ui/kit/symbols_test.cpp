#include "lumenhollow/ui/kit/symbols.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <set>

#include "lumenhollow/ui/kit/record_pill_state.h"
#include "lumenhollow/ui/kit/status_pill_state.h"

namespace lumenhollow::ui {
namespace {

// Pixels a glyph drew into an empty square.
int inkOf(std::string_view name) {
    QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        Symbols::instance().draw(painter, QRectF(0, 0, 32, 32), name, 24, Qt::white);
    }
    int ink = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) ink += qAlpha(image.pixel(x, y)) > 128;
    return ink;
}

TEST(Symbols, EveryKnownNameResolvesToADrawnGlyph) {
    for (const std::string_view name : knownSymbolNames()) {
        EXPECT_TRUE(Symbols::instance().glyph(name).has_value()) << name;
        EXPECT_GT(inkOf(name), 10) << name;
    }
}

TEST(Symbols, DistinctNamesGetDistinctGlyphsWhereTheMeaningDiffers) {
    // Battery levels must be told apart at a glance.
    std::set<char16_t> levels;
    for (const char* name : {"battery.0percent", "battery.25percent", "battery.50percent", "battery.75percent",
                             "battery.100percent", "battery.100percent.bolt"}) {
        levels.insert(Symbols::instance().glyph(name).value_or(QChar()).unicode());
    }
    EXPECT_EQ(levels.size(), 6u);
}

TEST(Symbols, NamesTheReadOutsChooseAreKnown) {
    std::set<std::string> chosen;
    for (int percent : {0, 11, 26, 51, 76}) chosen.insert(batterySymbol({percent, false}));
    chosen.insert(batterySymbol({50, true}));
    PublishedState state;
    state.cardStorage = hollowkit::CardStorage{1, 2};
    state.macFreeBytes = 1;
    for (const StatusFigure& figure : statusPill(state, false).figures) chosen.insert(figure.symbol);
    for (RecordChip chip : {RecordChip::screen, RecordChip::card}) chosen.insert(recordChipLook(chip).symbol);
    for (const std::string& name : chosen) EXPECT_TRUE(Symbols::instance().glyph(name).has_value()) << name;
}

TEST(Symbols, UnknownNameDrawsNothing) {
    EXPECT_FALSE(Symbols::instance().glyph("no.such.symbol").has_value());
    EXPECT_EQ(inkOf("no.such.symbol"), 0);
}

// A symbol laid out once draws where a centred one-character text would,
// at each size and in each colour it is asked for, however often.
TEST(Symbols, DrawsAsACentredCharacterAtEverySizeAndColour) {
    const struct {
        const char* name;
        double px;
        QColor color;
        QRectF box;
    } cases[] = {
        {"crop", 12.8, Qt::white, QRectF(0, 0, 32, 32)},
        {"crop", 13.6, QColor(255, 255, 255, 178), QRectF(0, 0, 34, 34)},
        {"chevron.down", 9, QColor(255, 255, 255, 178), QRectF(3.5, 10.5, 9, 9)},
        {"scope", 12.8, QColor(255, 204, 0), QRectF(1, 2, 30, 28)},
    };
    const Symbols& symbols = Symbols::instance();
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            QImage expected(40, 40, QImage::Format_ARGB32_Premultiplied);
            expected.fill(Qt::black);
            QImage drawn = expected;
            {
                QPainter painter(&expected);
                painter.setFont(symbols.font(c.px));
                painter.setPen(c.color);
                painter.drawText(c.box, Qt::AlignCenter, QString(*symbols.glyph(c.name)));
            }
            {
                QPainter painter(&drawn);
                painter.setPen(Qt::red);
                symbols.draw(painter, c.box, c.name, c.px, c.color);
                EXPECT_EQ(painter.pen().color(), QColor(Qt::red)) << "the painter's pen is given back";
            }
            EXPECT_EQ(drawn, expected);
        }
    }
}

}  // namespace
}  // namespace lumenhollow::ui
