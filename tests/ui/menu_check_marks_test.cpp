// Every choice menu, filled as the application fills it and drawn with the
// application's style: the rows that are on carry the check mark and the
// rows that are off are drawn exactly as plain rows (no box, no bullet).

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QWidget>

#include <string>
#include <vector>

#include "hollowkit/imaging/lut_library.h"
#include "lumenhollow/ui/kit/menu_style.h"
#include "lumenhollow/ui/menus/menu_filler.h"
#include "lumenhollow/ui/menus/settings_menu_items.h"
#include "lumenhollow/ui/menus/window_menu_entries.h"
#include "lumenhollow/ui/panels/microphone_faces.h"

namespace lumenhollow {
namespace {

namespace hk = hollowkit;

// A menu's rows as drawn.
QImage marksShot(QMenu& menu) {
    menu.adjustSize();
    return menu.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The columns of `row` where the two pictures differ: [first, last], or
// {-1, -1} when they are the same.
std::pair<int, int> marksDifferingColumns(const QImage& a, const QImage& b, const QRect& row) {
    int first = -1;
    int last = -1;
    for (int y = row.top(); y <= row.bottom(); ++y) {
        for (int x = row.left(); x <= row.right(); ++x) {
            if (a.pixel(x, y) == b.pixel(x, y)) continue;
            if (first < 0 || x < first) first = x;
            last = std::max(last, x);
        }
    }
    return {first, last};
}

// Walks `menu` and its submenus: each checkable row is drawn again as a
// plain one and compared. A row that is on differs only left of its title;
// a row that is off does not differ at all. Returns the titles of the rows
// that are on, submenu rows as "Submenu > Row".
std::vector<std::string> marksDrawn(QMenu& menu, const std::string& path = {}) {
    std::vector<std::string> marked;
    const int titleStart = menu.fontMetrics().height() + 8;  // the mark column stays left of this
    for (QAction* action : menu.actions()) {
        if (QMenu* submenu = action->menu()) {
            Q_EMIT submenu->aboutToShow();
            const std::vector<std::string> inner = marksDrawn(*submenu, path + action->text().toStdString() + " > ");
            marked.insert(marked.end(), inner.begin(), inner.end());
            continue;
        }
        if (!action->isCheckable()) continue;
        const std::string title = path + action->text().toStdString();
        const QImage shown = marksShot(menu);
        const QRect row = menu.actionGeometry(action);
        action->setCheckable(false);
        const QImage plain = marksShot(menu);
        action->setCheckable(true);
        EXPECT_EQ(menu.actionGeometry(action), row) << title << ": the title keeps its place";
        const auto [first, last] = marksDifferingColumns(shown, plain, row);
        if (action->isChecked()) {
            marked.push_back(title);
            EXPECT_GE(first, row.left()) << title << ": a row that is on shows a mark";
            EXPECT_LT(last, row.left() + titleStart) << title << ": the mark stands left of the title";
        } else {
            EXPECT_EQ(first, -1) << title << ": a row that is off is drawn as a plain row";
        }
    }
    return marked;
}

TEST(MenuCheckMarks, EveryChoiceMenuMarksItsCurrentRowsAndNothingBesideTheOthers) {
    const hk::ColorLUT& mono = hk::LUTLibrary::builtIn().at(3);
    hk::ColorLUT imported;
    imported.id = "/looks/Night.cube";
    imported.name = "Night";
    const hk::VideoFormatOption wide{1920, 1080, 30};
    const hk::VideoFormatOption tall{1080, 1920, 30};
    const hk::MicrophoneOption builtInMic{"mic-1", "Built-in Microphone", std::nullopt};
    const hk::MicrophoneOption djiMic{"mic-2", "DJI Mic", std::string("Osmo Pocket 3")};

    SettingsSnapshot snapshot;
    snapshot.supportsCameraSettings = true;
    PublishedState live;
    live.codec = hk::VideoCodec::h264;
    live.recordTarget = RecordTarget::mac;
    live.countdownSeconds = 5;
    live.showInNotch = false;
    live.notchContent = NotchContent::controls;
    live.notchTrigger = NotchTrigger::click;
    live.closeBehavior = CloseBehavior::quit;

    const struct {
        const char* name;
        MenuEntries entries;
        std::vector<std::string> marked;
    } cases[] = {
        {"look", lookMenuEntries(hk::LUTLibrary::builtIn(), {imported}, mono), {mono.name}},
        {"look, an import chosen", lookMenuEntries(hk::LUTLibrary::builtIn(), {imported}, imported), {"Night"}},
        {"guide, two on", guideMenuEntries({GuideKind::grid, GuideKind::vertical}), {"Grid", "9:16 Frame"}},
        {"guide, none on", guideMenuEntries({}), {}},
        {"connection", connectionMenuEntries(ConnectionMode::wireless), {"Wireless"}},
        {"format", formatMenuEntries({wide, tall}, tall), {tall.description()}},
        {"camera microphone", cameraMicrophoneEntries({{builtInMic, djiMic}, djiMic, false}), {djiMic.displayName()}},
        {"camera microphone, automatic", cameraMicrophoneEntries({{builtInMic, djiMic}, djiMic, true}),
         {"Automatic (DJI Mic first)"}},
        {"computer microphone", wirelessMicrophoneEntries({"off", {{"in-1", "USB Headset"}}, std::nullopt}),
         {"Off: Sound Only on the microSD Card"}},
        {"settings",
         settingsMenuEntries(snapshot, live),
         {"Recording Codec > H.264", "Record To > Mac", "Countdown > 5 seconds",
          "Notch > Content > Controls Only", "Notch > Open > When Clicked",
          "Notch > Closing the Window > Quit Lumenhollow"}},
    };
    ui::MenuStyle style;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget parent;
        parent.setStyle(&style);
        QMenu menu(&parent);
        menu.setStyle(&style);
        fillMenu(menu, c.entries, {});
        for (QMenu* submenu : menu.findChildren<QMenu*>()) submenu->setStyle(&style);
        EXPECT_EQ(marksDrawn(menu), c.marked);
    }
}

}  // namespace
}  // namespace lumenhollow
