#pragma once

// What the island's two contents show, decided from the model's state and
// the island's own: the collapsed strip's two slots, the open island's
// header, which body it lays out, the preview pane's size and what lies
// over the picture, and where each part goes inside the open island. Plain
// values and functions, tested without widgets; any thread.

#include <QRectF>
#include <QSize>
#include <QString>

#include <optional>
#include <string>

#include "hollowkit/base/clock.h"
#include "hollowkit/camera/camera_types.h"
#include "hollowkit/imaging/normalized_rect.h"
#include "lumenhollow/model/model_types.h"
#include "lumenhollow/model/published_state.h"
#include "lumenhollow/ui/island/notch_geometry.h"

namespace lumenhollow::ui {

// The values both contents read, gathered once per change.
struct IslandContentInputs {
    bool live = false;  // a picture is coming in
    std::optional<std::string> failure;
    std::string statusText;
    std::optional<hollowkit::BatteryStatus> battery;
    ConnectionMode connection = ConnectionMode::usb;
    std::optional<hollowkit::WallTime> recordingStarted;
    bool faceTracking = false;
    std::optional<hollowkit::NormalizedRect> trackedFace;
    NotchContent content = NotchContent::preview;
    double aspect = 16.0 / 9.0;  // the picture's width / height
};

// `aspect` is the model's previewAspect (not published as a field).
IslandContentInputs islandContentInputs(const PublishedState& state, double aspect);

// The collapsed strip's left slot: the first that applies.
enum class IslandLeftSlot { recording, tracking, status };
IslandLeftSlot islandLeftSlot(const IslandContentInputs& in);

// The symbol of the route in use: a cable for USB, Wi-Fi otherwise.
const char* islandConnectionSymbol(ConnectionMode mode);

// The collapsed right slot shows the battery when one is reported, else the route.
bool islandRightSlotShowsBattery(const IslandContentInputs& in);

// The open island's title and the colour of its dot (green only while live).
struct IslandHeaderTitle {
    QString text;
    bool live = false;
    bool operator==(const IslandHeaderTitle&) const = default;
};
IslandHeaderTitle islandHeaderTitle(const IslandContentInputs& in);

enum class IslandBody { portrait, landscape, controlsOnly };
IslandBody islandBody(NotchContent content, double aspect);

// The preview pane: 392 high and as wide as the aspect makes it for a tall
// picture; 488 wide and at most 300 high otherwise. Aspects below 0.3 count
// as 0.3; a bad aspect as 16:9.
QSize islandPreviewSize(double aspect);

// What lies over the picture while it is not live: the spinner while no
// failure is known, the status text always, Reconnect after a failure.
struct IslandStatusOverlay {
    bool shown = false;
    bool spinner = false;
    bool reconnect = false;
    bool operator==(const IslandStatusOverlay&) const = default;
};
IslandStatusOverlay islandStatusOverlay(const IslandContentInputs& in);

// Where the open island's parts go, in the island's own coordinates.
struct IslandExpandedLayout {
    QRectF header;    // the header band, less its side padding
    double titleWidth = 0;
    QRectF preview;   // empty when the island shows controls only
    QRectF controls;  // the grid's column (portrait) or the row's band
    IslandBody body = IslandBody::landscape;
};
IslandExpandedLayout islandExpandedLayout(const NotchGeometry& geometry, QSize island, int titleWidth,
                                          NotchContent content, double aspect);

}  // namespace lumenhollow::ui
