#pragma once

// The symbol registry: the glyphs of the interface, keyed by the names the
// views use ("battery.75percent", "cable.connector"), drawn from the Material
// Icons font. The font is loaded on first use (GUI thread); a name that is
// unknown, or that the font lacks, draws nothing. Each symbol is laid out
// once per pixel size and kept, so drawing it again allocates nothing.

#include <QChar>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QPen>
#include <QRectF>
#include <QString>
#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "lumenhollow/ui/kit/typography.h"

class QPainter;

namespace lumenhollow::ui {

// Every symbol name the interface uses, for the test that each resolves.
std::span<const std::string_view> knownSymbolNames();

class Symbols {
public:
    static const Symbols& instance();

    // The font's character for `name`, or nothing.
    std::optional<QChar> glyph(std::string_view name) const;
    // The icon font at `px` pixels.
    QFont font(double px) const;
    // Draws `name` centred in `box` at `px` pixels in `color`. GUI thread.
    void draw(QPainter& painter, const QRectF& box, std::string_view name, double px,
              const QColor& color) const;

private:
    // One symbol at one size, laid out, with the pen it was last drawn with.
    struct Prepared {
        TextRun run;
        QPen pen;
    };

    Symbols();
    Prepared& prepared(QChar glyph, double px) const;
    // Drops the laid-out symbols while the application that made them still
    // has its fonts: they hold its font engines.
    static void forgetPrepared();

    QString family_;
    std::unordered_map<std::string_view, QChar> glyphs_;  // symbol name → character
    mutable std::map<std::pair<char16_t, double>, Prepared> prepared_;
    mutable bool forgetRegistered_ = false;
};

}  // namespace lumenhollow::ui
