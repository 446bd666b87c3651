#include "lumenhollow/ui/kit/symbols.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>
#include <array>
#include <utility>

#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {

namespace {

// Symbol name → the icon font's ligature for the nearest picture.
constexpr std::array<std::pair<std::string_view, std::string_view>, 67> kSymbolTable{{
    {"airpods", "headphones"},
    {"arrow.clockwise", "refresh"},
    {"arrow.triangle.2.circlepath", "sync"},
    {"arrow.up.left.and.arrow.down.right", "open_in_full"},
    {"arrow.uturn.backward.circle", "u_turn_left"},
    {"battery.0percent", "battery_0_bar"},
    {"battery.100percent", "battery_full"},
    {"battery.100percent.bolt", "battery_charging_full"},
    {"battery.25percent", "battery_2_bar"},
    {"battery.50percent", "battery_4_bar"},
    {"battery.75percent", "battery_5_bar"},
    {"bolt.fill", "flash_on"},
    {"cable.connector", "cable"},
    {"cable.connector.horizontal", "usb"},
    {"camera", "photo_camera"},
    {"camera.aperture", "camera"},
    {"camera.fill", "photo_camera"},
    {"camera.viewfinder", "center_focus_weak"},
    {"checkmark", "check"},
    {"checkmark.circle", "check_circle_outline"},
    {"checkmark.circle.fill", "check_circle"},
    {"chevron.down", "expand_more"},
    {"chevron.left", "chevron_left"},
    {"chevron.right", "chevron_right"},
    {"chevron.up", "expand_less"},
    {"circle.lefthalf.filled", "contrast"},
    {"crop", "crop"},
    {"exclamationmark.triangle.fill", "warning"},
    {"film", "movie"},
    {"folder", "folder"},
    {"gearshape", "settings"},
    {"grid", "grid_on"},
    {"hand.draw", "gesture"},
    {"hand.tap", "touch_app"},
    {"inset.filled.bottomright.rectangle", "picture_in_picture_alt"},
    {"internaldrive", "save"},
    {"iphone", "phone_iphone"},
    {"laptopcomputer", "laptop"},
    {"lock.shield", "security"},
    {"macbook", "laptop_mac"},
    {"macwindow", "web_asset"},
    {"mic", "mic"},
    {"mic.fill", "mic"},
    {"mic.slash", "mic_off"},
    {"minus", "remove"},
    {"minus.magnifyingglass", "zoom_out"},
    {"person.fill", "person"},
    {"person.fill.viewfinder", "center_focus_strong"},
    {"pin", "push_pin"},
    {"pin.fill", "push_pin"},
    {"play.fill", "play_arrow"},
    {"plus", "add"},
    {"plus.magnifyingglass", "zoom_in"},
    {"power", "power_settings_new"},
    {"record.circle", "radio_button_checked"},
    {"record.circle.fill", "fiber_manual_record"},
    {"rectangle.inset.bottomright.filled", "picture_in_picture"},
    {"rectangle.on.rectangle", "filter_none"},
    {"rectangle.on.rectangle.angled", "collections"},
    {"scope", "gps_fixed"},
    {"sdcard", "sd_storage"},
    {"sdcard.fill", "sd_card"},
    {"trash", "delete"},
    {"video", "videocam_off"},
    {"video.fill", "videocam"},
    {"wifi", "wifi"},
    {"xmark", "close"},
}};

constexpr std::array<std::string_view, kSymbolTable.size()> symbolNames() {
    std::array<std::string_view, kSymbolTable.size()> names{};
    for (size_t i = 0; i < kSymbolTable.size(); ++i) names[i] = kSymbolTable[i].first;
    return names;
}
constexpr auto kSymbolNames = symbolNames();

QString toQString(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

std::span<const std::string_view> knownSymbolNames() { return kSymbolNames; }

Symbols::Symbols() {
    const int id = QFontDatabase::addApplicationFont(QString::fromUtf8(kIconFontPath));
    if (id < 0) return;
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) return;
    family_ = families.front();
    const QRawFont raw(QString::fromUtf8(kIconFontPath), 24);
    if (!raw.isValid()) return;

    // Each picture also has a private-use character; map glyph → character so
    // drawing is a plain one-character text, cached like any other.
    QHash<quint32, QChar> characterOfGlyph;
    for (char16_t c = 0xE000; c < 0xF900; ++c) {
        const QChar ch(c);
        if (!raw.supportsCharacter(ch)) continue;
        const QList<quint32> indexes = raw.glyphIndexesForString(QString(ch));
        if (indexes.size() == 1 && indexes.front() != 0) characterOfGlyph.insert(indexes.front(), ch);
    }

    QFont font(family_);
    font.setPixelSize(24);
    for (const auto& [name, ligature] : kSymbolTable) {
        // The font's ligature turns the picture's name into its one glyph; a
        // name it does not know stays one glyph per letter.
        QTextLayout layout(toQString(ligature), font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.glyphRuns();
        if (runs.size() != 1 || runs.front().glyphIndexes().size() != 1) continue;
        const auto found = characterOfGlyph.constFind(runs.front().glyphIndexes().front());
        if (found != characterOfGlyph.constEnd()) glyphs_.emplace(name, *found);
    }
}

const Symbols& Symbols::instance() {
    static const Symbols symbols;
    return symbols;
}

std::optional<QChar> Symbols::glyph(std::string_view name) const {
    const auto found = glyphs_.find(name);
    if (found == glyphs_.end()) return std::nullopt;
    return found->second;
}

QFont Symbols::font(double px) const {
    QFont font(family_);
    font.setPointSizeF(pointsForPixels(px));
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

void Symbols::forgetPrepared() {
    const Symbols& symbols = instance();
    symbols.prepared_.clear();
    symbols.forgetRegistered_ = false;
}

Symbols::Prepared& Symbols::prepared(QChar glyph, double px) const {
    if (!forgetRegistered_) {
        // Run as the application object goes, before its fonts do.
        qAddPostRoutine(&Symbols::forgetPrepared);
        forgetRegistered_ = true;
    }
    const std::pair<char16_t, double> key{glyph.unicode(), px};
    auto found = prepared_.find(key);
    if (found == prepared_.end()) found = prepared_.emplace(key, Prepared{layoutText(font(px), QString(glyph)), QPen()}).first;
    return found->second;
}

void Symbols::draw(QPainter& painter, const QRectF& box, std::string_view name, double px,
                   const QColor& color) const {
    const std::optional<QChar> ch = glyph(name);
    if (!ch) return;
    Prepared& symbol = prepared(*ch, px);
    // Centred as a text box centres one line: its advance across, its
    // ascent and descent down.
    const QPointF baseline(box.x() + (box.width() - symbol.run.width) / 2,
                           box.y() + (box.height() - symbol.run.lineHeight) / 2 + symbol.run.ascent);
    // The kept pen is changed only while the painter holds no copy of it.
    if (symbol.pen.color() != color) symbol.pen = QPen(color);
    const QPen before = painter.pen();
    painter.setPen(symbol.pen);
    drawText(painter, baseline, symbol.run);
    painter.setPen(before);
}

}  // namespace lumenhollow::ui
