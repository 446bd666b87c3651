#pragma once

// Type: the Inter font at fixed pixel sizes, whatever the desktop's font
// settings, and digits set in equal cells where a figure must not jitter.

#include <QFont>
#include <QGlyphRun>
#include <QList>
#include <QSize>
#include <QString>
#include <vector>

class QFontMetricsF;
class QPainter;
class QPointF;

namespace lumenhollow::ui {

inline constexpr const char* kIconFontPath =
    "/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf";
inline constexpr const char* kTextFontDir = "/usr/share/fonts/opentype/inter";
inline constexpr const char* kTextFontFamily = "Inter";

enum class TextStyle { title2, headline, body, callout, subheadline, caption };

struct TextStyleSpec {
    double px;
    QFont::Weight weight;
};

TextStyleSpec textStyleSpec(TextStyle style);

// Loads the text faces into the application's font set; false when one is
// missing (the drawing then falls back to whatever the system finds).
bool loadTextFonts();

// The point size that renders `px` pixels on the primary screen.
double pointsForPixels(double px);

QFont uiFont(double px, QFont::Weight weight = QFont::Normal);
QFont uiFont(TextStyle style);

// The baseline that centres a line of `metrics`' font on `midY`.
double centredBaseline(const QFontMetricsF& metrics, double midY);

// The size a label of `text` in `font` takes when it wraps at word breaks
// beyond `maxWidth`: one line's width when that fits, else `maxWidth`, and
// as many lines high as the wrapping makes.
QSize wrappedTextSize(const QFont& font, const QString& text, int maxWidth);

// Width of `text` with every digit in a cell as wide as the widest digit.
double tabularWidth(const QFontMetricsF& metrics, const QString& text);
// Draws `text` that way from `baselineLeft`, with the painter's font and pen.
void drawTabular(QPainter& painter, const QPointF& baselineLeft, const QString& text);

// A line set that way once and drawn as often as needed, so painting it
// allocates nothing: its glyphs are placed once for the font it is first
// drawn in (again only when that font changes) and drawn in one call.
struct TabularLine {
    std::vector<QString> pieces;  // one character each
    std::vector<double> offsets;  // from the line's left edge
    double width = 0;
    // The placed glyphs and the font they are for; filled by drawTabular.
    mutable QGlyphRun glyphs;
    mutable QFont glyphsFont;
};
TabularLine layoutTabular(const QFontMetricsF& metrics, const QString& text);
void drawTabular(QPainter& painter, const QPointF& baselineLeft, const TabularLine& line);

// A line of text in one font, laid out once and drawn as often as needed
// without allocating; its glyphs stand on a baseline at 0 from a left end
// at 0.
struct TextRun {
    QList<QGlyphRun> runs;
    double width = 0;      // the line's natural width
    double ascent = 0;     // the font's, above the baseline
    double lineHeight = 0; // ascent and descent, as a text box centres a line
};
TextRun layoutText(const QFont& font, const QString& text);
// Draws `run` from `baselineLeft` with the painter's pen.
void drawText(QPainter& painter, const QPointF& baselineLeft, const TextRun& run);

}  // namespace lumenhollow::ui
