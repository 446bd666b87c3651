#include "lumenhollow/ui/kit/status_pill_state.h"

#include <algorithm>

#include "lumenhollow/ui/kit/text_format.h"

namespace lumenhollow::ui {

std::string batterySymbol(const hollowkit::BatteryStatus& battery) {
    if (battery.isCharging) return "battery.100percent.bolt";
    if (battery.percent > 75) return "battery.100percent";
    if (battery.percent > 50) return "battery.75percent";
    if (battery.percent > 25) return "battery.50percent";
    if (battery.percent >= 11) return "battery.25percent";
    return "battery.0percent";
}

double statusPillWidth(std::span<const double> figureWidths) {
    double width = 2 * kStatusPillInset;
    for (size_t i = 0; i < figureWidths.size(); ++i) width += (i > 0 ? kStatusPillSpacing : 0) + figureWidths[i];
    return width;
}

StatusPillState statusPill(const PublishedState& state, bool compact) {
    StatusPillState pill;
    if (state.battery) {
        // A level outside 0...100 is a bad report; show the nearest real one.
        const int percent = std::clamp(state.battery->percent, 0, 100);
        pill.figures.push_back({batterySymbol(*state.battery), std::to_string(percent) + "%",
                                state.battery->isCharging ? "Camera battery, charging"
                                                          : "Camera battery"});
    }
    if (state.cardStorage) {
        std::string text = cardGigabytes(state.cardStorage->freeMegabytes);
        if (!compact) text += " / " + cardGigabytes(state.cardStorage->totalMegabytes);
        pill.figures.push_back({"sdcard", std::move(text), "Free space on the camera's microSD card"});
    }
    if (!compact && state.macFreeBytes) {
        pill.figures.push_back({"internaldrive", siByteCount(*state.macFreeBytes) + " free",
                                "Free space where recordings are saved"});
    }
    return pill;
}

}  // namespace lumenhollow::ui
