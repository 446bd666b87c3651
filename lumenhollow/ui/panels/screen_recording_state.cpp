#include "lumenhollow/ui/panels/screen_recording_state.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

namespace lumenhollow {

namespace {

constexpr double kBusyOffButtonOpacity = 0.45;
constexpr double kIdleOptionsOpacity = 0.5;
constexpr const char* kTakeFolderPrefix = "Lumenhollow Screen Recording ";

QString tr(const char* text) { return QCoreApplication::translate("ScreenRecordingPanel", text); }

// The locale's long date with the weekday dropped and the month shortened:
// the medium date the platform has no format of its own for.
QString mediumDateFormat(const QLocale& locale) {
    QString format = locale.dateFormat(QLocale::LongFormat);
    format.remove(QRegularExpression(QStringLiteral("d{4}[,.]?\\s*")));
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

}  // namespace

ScreenRecordingButtonState screenRecordingButton(bool recordScreen, bool busy) {
    ScreenRecordingButtonState state;
    state.symbol = recordScreen ? "inset.filled.bottomright.rectangle" : "rectangle.inset.bottomright.filled";
    state.active = recordScreen;
    state.enabled = !busy;
    // With screen recording on the busy button keeps its active look whole.
    state.opacity = busy && !recordScreen ? kBusyOffButtonOpacity : 1;
    return state;
}

ScreenPanelState screenPanel(const ScreenPanelFacts& facts) {
    ScreenPanelState state;
    state.showPermissionCard = !facts.accessGranted;
    // With a last take the options stay live: "Apply Changes" uses them.
    state.optionsEnabled = facts.recordScreen || facts.hasLastTake;
    state.optionsOpacity = state.optionsEnabled ? 1 : kIdleOptionsOpacity;
    state.showBackgroundPicker = facts.shape == hollowkit::BubbleShape::circle;
    state.showDisplayMenu = facts.displayCount >= 2;
    if (facts.connection == ConnectionMode::wireless) {
        state.microphoneNote =
            facts.usesMacMicrophone
                ? MicrophoneNote{"mic", tr("Over Wi-Fi your voice comes from the Mac microphone chosen at the top left.")}
                : MicrophoneNote{"mic.slash", tr("The Mac microphone is off, so this take will have no voice. Turn "
                                                 "it on at the top left.")};
    }
    state.showRebuild = facts.hasLastTake && facts.lastTakeHasBothMovies;
    state.rebuildEnabled = !facts.busy;
    return state;
}

std::vector<DisplayMenuItem> displayMenuItems(const std::vector<hollowkit::ScreenDisplay>& displays) {
    std::vector<DisplayMenuItem> items{{tr("Main Display"), std::nullopt}};
    for (const hollowkit::ScreenDisplay& display : displays) {
        items.push_back({QString::fromStdString(display.name), display.id});
    }
    return items;
}

QString relativeDateText(const QDateTime& when, const QDateTime& now, const QLocale& locale) {
    const qint64 daysAgo = when.date().daysTo(now.date());
    QString day;
    if (daysAgo == 0) {
        day = tr("Today");
    } else if (daysAgo == 1) {
        day = tr("Yesterday");
    } else {
        day = locale.toString(when.date(), mediumDateFormat(locale));
    }
    return tr("%1 at %2").arg(day, locale.toString(when.time(), QLocale::ShortFormat));
}

QString lastTakeLabel(const std::filesystem::path& folder, const std::optional<QDateTime>& created,
                      const QDateTime& now, const QLocale& locale) {
    if (created && created->isValid()) return relativeDateText(*created, now, locale);
    QString name = QString::fromStdString(folder.filename().string());
    // A folder path given with a trailing slash has an empty last part.
    if (name.isEmpty()) name = QString::fromStdString(folder.parent_path().filename().string());
    return name.remove(QString::fromLatin1(kTakeFolderPrefix));
}

std::optional<QDateTime> folderCreationTime(const std::filesystem::path& folder) {
    const QFileInfo info(QString::fromStdString(folder.string()));
    if (!info.exists()) return std::nullopt;
    const QDateTime born = info.birthTime();
    if (!born.isValid()) return std::nullopt;
    return born;
}

}  // namespace lumenhollow
