#include "lumenhollow/ui/window/window_layout.h"

#include <algorithm>

namespace lumenhollow {

WidthClasses widthClasses(double contentWidth) {
    return WidthClasses{contentWidth < kCompactBelowWidth, contentWidth < kRailBelowWidth};
}

bool isPortrait(double aspect) {
    return aspect < 1.0;
}

SizeF minimumContentSize(double aspect) {
    return isPortrait(aspect) ? kPortraitMinimum : kLandscapeMinimum;
}

RectF videoRect(SizeF area, double aspect) {
    // Written so NaN fails every test and gives the empty rectangle.
    if (!(area.width > 0 && area.height > 0 && aspect > 0)) return {};
    const double width = std::min(area.height * aspect, area.width);
    const double height = width / aspect;
    return RectF{(area.width - width) * 0.5, (area.height - height) * 0.5, width, height};
}

StatusOverlay statusOverlay(const PublishedState& state) {
    if (state.cameraOff) return StatusOverlay::cameraOff;
    if (!state.stats || !state.stats->hasPicture) return StatusOverlay::connecting;
    return StatusOverlay::none;
}

ConnectingOverlayState connectingOverlay(const PublishedState& state) {
    return ConnectingOverlayState{state.statusText, state.failure.has_value(),
                                  state.connection == ConnectionMode::wireless};
}

CameraOffOverlayState cameraOffOverlay(const PublishedState& state) {
    return CameraOffOverlayState{state.connection == ConnectionMode::wireless};
}

}  // namespace lumenhollow
