#pragma once

// The closed island's strip, drawn by NotchView: left of the notch the
// recording badge (pulsing dot and elapsed time), the tracking glyph or the
// live dot with a camera; right of it the battery, else the route's glyph.
// Set up once per change of what it shows, painted without allocating.
// GUI thread.

#include <QFont>
#include <QRectF>
#include <QString>

#include <optional>

#include "lumenhollow/ui/island/island_content.h"
#include "lumenhollow/ui/island/island_glyphs.h"
#include "lumenhollow/ui/kit/model_fields.h"
#include "lumenhollow/ui/kit/typography.h"

class QPainter;

namespace lumenhollow::ui {

class IslandCollapsedStrip {
public:
    static constexpr double kSlotWidth = 68;
    static constexpr double kPadding = 5;

    IslandCollapsedStrip();

    // The fields the strip shows (with the recording's start, its time).
    static constexpr FieldList<5> kFields{Field::stats, Field::recordingStarted, Field::faceTracking,
                                          Field::connection, Field::battery};

    // `elapsed` is the recording's time as shown, when recording. False when
    // the strip shows what it showed before.
    bool set(const IslandContentInputs& in, const std::optional<QString>& elapsed);
    IslandLeftSlot leftSlot() const { return left_; }
    bool showsBattery() const { return battery_.has_value(); }

    // The two slots inside `island` (the strip's full rectangle).
    static QRectF leftSlotRect(const QRectF& island);
    static QRectF rightSlotRect(const QRectF& island);

    void paint(QPainter& painter, const QRectF& island, double dotOpacity) const;

private:
    // What the strip shows, as last set.
    struct Shown {
        IslandLeftSlot left = IslandLeftSlot::status;
        bool live = false;
        const char* connectionSymbol = nullptr;
        std::optional<hollowkit::BatteryStatus> battery;
        QString elapsed;
        bool operator==(const Shown&) const = default;
    };

    std::optional<Shown> shown_;
    IslandLeftSlot left_ = IslandLeftSlot::status;
    bool live_ = false;
    const char* connectionSymbol_ = "wifi";
    std::optional<BatteryGlyph> battery_;
    QFont font_;
    TabularLine elapsed_;
};

}  // namespace lumenhollow::ui
