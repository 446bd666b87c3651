#pragma once

// What the screen-recording button and panel show, as plain values from the
// model's published state and a few facts the views look up (busy, screen
// access, the last take's files): which items are there, which are enabled
// and how opaque, the microphone note, the Display menu's items and the last
// take's label. The views lay these out and decide nothing else.

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/media/bubble_style.h"
#include "hollowkit/recording/screen_display.h"
#include "lumenhollow/model/model_types.h"

namespace lumenhollow {

struct ScreenRecordingButtonState {
    std::string symbol;
    bool active = false;
    bool enabled = true;
    double opacity = 1;
    bool operator==(const ScreenRecordingButtonState&) const = default;
};

ScreenRecordingButtonState screenRecordingButton(bool recordScreen, bool busy);

// The facts the panel is drawn from.
struct ScreenPanelFacts {
    bool recordScreen = false;
    bool accessGranted = true;
    hollowkit::BubbleShape shape = hollowkit::BubbleShape::circle;
    size_t displayCount = 0;
    ConnectionMode connection = ConnectionMode::usb;
    bool usesMacMicrophone = false;
    bool hasLastTake = false;
    // The last take's folder holds both movies (only looked at with a take).
    bool lastTakeHasBothMovies = false;
    bool busy = false;
};

struct MicrophoneNote {
    std::string symbol;
    QString text;
    bool operator==(const MicrophoneNote&) const = default;
};

struct ScreenPanelState {
    bool showPermissionCard = false;
    bool optionsEnabled = true;
    double optionsOpacity = 1;
    // The Background picker for a circle; the cut-out caption otherwise.
    bool showBackgroundPicker = true;
    bool showDisplayMenu = false;
    std::optional<MicrophoneNote> microphoneNote;
    bool showRebuild = false;
    bool rebuildEnabled = true;
    bool operator==(const ScreenPanelState&) const = default;
};

ScreenPanelState screenPanel(const ScreenPanelFacts& facts);

// One item of the Display menu: the main display (no id) first, then each
// listed display by name, in the list's order.
struct DisplayMenuItem {
    QString title;
    std::optional<uint32_t> id;
    bool operator==(const DisplayMenuItem&) const = default;
};

std::vector<DisplayMenuItem> displayMenuItems(const std::vector<hollowkit::ScreenDisplay>& displays);

// "Today at 14:05", "Yesterday at 09:30", else the locale's date with a
// short month and its short time ("Mar 4, 2025 at 2:05 PM" in en_US).
QString relativeDateText(const QDateTime& when, const QDateTime& now, const QLocale& locale);

// The last take's label: its folder's creation time when known, otherwise
// its name without any "Lumenhollow Screen Recording ".
QString lastTakeLabel(const std::filesystem::path& folder, const std::optional<QDateTime>& created,
                      const QDateTime& now, const QLocale& locale);

// The folder's creation time from the file system; nothing where the file
// system does not keep one or the folder cannot be read.
std::optional<QDateTime> folderCreationTime(const std::filesystem::path& folder);

}  // namespace lumenhollow
