#include "lumenhollow/ui/kit/typography.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QRawFont>
#include <QScreen>
#include <QTextLayout>
#include <algorithm>
#include <array>
#include <cmath>

namespace lumenhollow::ui {

TextStyleSpec textStyleSpec(TextStyle style) {
    switch (style) {
        case TextStyle::title2: return {17, QFont::Normal};
        case TextStyle::headline: return {13, QFont::Bold};
        case TextStyle::body: return {13, QFont::Normal};
        case TextStyle::callout: return {12, QFont::Normal};
        case TextStyle::subheadline: return {11, QFont::Normal};
        case TextStyle::caption: return {10, QFont::Normal};
    }
    return {13, QFont::Normal};
}

bool loadTextFonts() {
    static const bool loaded = [] {
        bool all = true;
        for (const char* face : {"Inter-Regular.otf", "Inter-Medium.otf", "Inter-SemiBold.otf", "Inter-Bold.otf"}) {
            all = QFontDatabase::addApplicationFont(QString::fromUtf8(kTextFontDir) + "/" + face) >= 0 && all;
        }
        return all;
    }();
    return loaded;
}

double pointsForPixels(double px) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    return px * 72.0 / (dpi > 0 ? dpi : 96.0);
}

QFont uiFont(double px, QFont::Weight weight) {
    QFont font(QString::fromUtf8(kTextFontFamily));
    font.setPointSizeF(pointsForPixels(px));
    font.setWeight(weight);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QFont uiFont(TextStyle style) {
    const TextStyleSpec spec = textStyleSpec(style);
    return uiFont(spec.px, spec.weight);
}

double centredBaseline(const QFontMetricsF& metrics, double midY) {
    return midY + (metrics.ascent() - metrics.descent()) / 2;
}

QSize wrappedTextSize(const QFont& font, const QString& text, int maxWidth) {
    const QFontMetrics metrics(font);
    const int width = std::min(maxWidth, metrics.horizontalAdvance(text) + 1);
    const QRect lines = metrics.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap | Qt::AlignHCenter, text);
    return {width, lines.height()};
}

namespace {

double digitCell(const QFontMetricsF& metrics) {
    double widest = 0;
    for (char16_t d = u'0'; d <= u'9'; ++d) widest = std::max(widest, metrics.horizontalAdvance(QChar(d)));
    return widest;
}

}  // namespace

double tabularWidth(const QFontMetricsF& metrics, const QString& text) {
    const double cell = digitCell(metrics);
    double width = 0;
    for (const QChar ch : text) width += ch.isDigit() ? cell : metrics.horizontalAdvance(ch);
    return width;
}

void drawTabular(QPainter& painter, const QPointF& baselineLeft, const QString& text) {
    drawTabular(painter, baselineLeft, layoutTabular(QFontMetricsF(painter.font()), text));
}

TabularLine layoutTabular(const QFontMetricsF& metrics, const QString& text) {
    const double cell = digitCell(metrics);
    TabularLine line;
    double x = 0;
    for (const QChar ch : text) {
        const double advance = metrics.horizontalAdvance(ch);
        line.pieces.emplace_back(ch);
        if (ch.isDigit()) {
            line.offsets.push_back(x + (cell - advance) / 2);
            x += cell;
        } else {
            line.offsets.push_back(x);
            x += advance;
        }
    }
    line.width = x;
    return line;
}

void drawTabular(QPainter& painter, const QPointF& baselineLeft, const TabularLine& line) {
    if (line.pieces.empty()) return;
    const QFont& font = painter.font();
    if (line.glyphs.isEmpty() || !(line.glyphsFont == font)) {
        // Each character's own glyph, unshaped, as a one-character text draws it.
        const QRawFont raw = QRawFont::fromFont(font);
        QList<quint32> indexes;
        QList<QPointF> positions;
        for (size_t i = 0; i < line.pieces.size(); ++i) {
            const QList<quint32> glyph = raw.glyphIndexesForString(line.pieces[i]);
            if (glyph.isEmpty()) continue;
            indexes.push_back(glyph.front());
            positions.push_back(QPointF(line.offsets[i], 0));
        }
        line.glyphs = QGlyphRun();
        line.glyphs.setRawFont(raw);
        line.glyphs.setGlyphIndexes(indexes);
        line.glyphs.setPositions(positions);
        line.glyphsFont = font;
    }
    painter.drawGlyphRun(baselineLeft, line.glyphs);
}

TextRun layoutText(const QFont& font, const QString& text) {
    TextRun run;
    QTextLayout layout(text, font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    if (!line.isValid()) return run;
    run.width = line.naturalTextWidth();
    run.ascent = line.ascent();
    run.lineHeight = line.height();
    run.runs = layout.glyphRuns();
    // Onto the baseline: the layout put its line's top at 0.
    for (QGlyphRun& glyphs : run.runs) {
        QList<QPointF> positions = glyphs.positions();
        for (QPointF& p : positions) p.ry() -= run.ascent;
        glyphs.setPositions(positions);
    }
    return run;
}

void drawText(QPainter& painter, const QPointF& baselineLeft, const TextRun& run) {
    for (const QGlyphRun& glyphs : run.runs) painter.drawGlyphRun(baselineLeft, glyphs);
}

}  // namespace lumenhollow::ui
