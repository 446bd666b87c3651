#pragma once

// The symbol registry: the glyphs of the interface, keyed by the names the
// views use ("battery.75percent", "cable.connector"), drawn from the Material
// Icons font. The font is loaded on first use (GUI thread); a name that is
// unknown, or that the font lacks, draws nothing.

#include <QChar>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QRectF>
#include <QString>
#include <optional>
#include <span>
#include <string_view>

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
    // Draws `name` centred in `box` at `px` pixels in `color`.
    void draw(QPainter& painter, const QRectF& box, std::string_view name, double px,
              const QColor& color) const;

private:
    Symbols();
    QString family_;
    QHash<QString, QChar> glyphs_;  // symbol name → character
};

}  // namespace lumenhollow::ui
