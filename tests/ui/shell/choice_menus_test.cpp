// Every choice menu of the application, used as a person uses it: a press on
// its control in the window opens it, presses walk its submenus, a press on
// the row that is current chooses it again, and the menu opened again still
// marks that row and no other. Qt flips a checkable row it triggers; a menu
// that is not filled anew before it opens (the microphone menus) would show
// the current row unmarked.

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "../ui_harness.h"
#include "hollowkit/imaging/lut_library.h"
#include "hollowkit/testing/fake_audio_input.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/kit/pop_up_button.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/menus/settings_menu_items.h"
#include "lumenhollow/ui/panels/camera_settings_panel.h"
#include "lumenhollow/ui/panels/microphone_control.h"
#include "lumenhollow/ui/panels/microphone_menu_button.h"
#include "lumenhollow/ui/shell/tray_menu.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/camera_settings_button.h"
#include "lumenhollow/ui/window/chrome_column.h"
#include "lumenhollow/ui/window/notch_settings_menu.h"
#include "lumenhollow/ui/window/settings_menu.h"
#include "lumenhollow/ui/menus/window_menu_entries.h"

namespace lumenhollow {
namespace {

namespace hk = hollowkit;
using hk::CameraEvent;

const hk::MicrophoneOption kChoiceInternalMic{"cam.internal", "Internal Mic", std::nullopt};
const hk::MicrophoneOption kChoiceReceiver{"cam.dji", "DJI Mic 2", std::string("USB-C")};
const hk::AudioInputOption kChoiceLaptopInput{"alsa_input.pci", "Built-in Audio"};
const hk::AudioInputOption kChoiceDeskInput{"alsa_input.usb", "Desk Microphone"};
const hk::VideoFormatOption kChoiceWide{1920, 1080, 30};
const hk::VideoFormatOption kChoiceTall{1080, 1920, 30};

struct ChoiceMotionOff {
    ChoiceMotionOff() { ui::setAnimationsEnabled(false); }
    ~ChoiceMotionOff() { ui::setAnimationsEnabled(true); }
};

// This computer's inputs, made before the model that reads them.
struct ChoiceComputerInputs {
    hk::FakeAudioInputBackend inputs;
    ChoiceComputerInputs() {
        inputs.setInputs({kChoiceLaptopInput, kChoiceDeskInput});
        inputs.setDefaultInputId(kChoiceLaptopInput.id);
    }
};

// The real window over a camera with two microphones and two formats, and
// the tray's menu beside it.
struct ChoiceWindow : ChoiceComputerInputs, test::WindowHarness {
    std::unique_ptr<TrayMenu> tray;

    explicit ChoiceWindow(bool usb) : test::WindowHarness(usb, true, &inputs) {
        camera()->setDevices({kChoiceInternalMic, kChoiceReceiver}, kChoiceReceiver, {kChoiceWide, kChoiceTall}, kChoiceWide);
        emit(CameraEvent::devicesChanged());
        emit(CameraEvent::stats(test::picture(1920, 1080)));
        main.advance(CameraModel::kSettleDelay);
        settle();
        show();
        settle();
        std::weak_ptr<CameraModel> weak = model;
        tray = std::make_unique<TrayMenu>(*modelSignals, [weak](QMenu& menu) {
            if (const auto strong = weak.lock()) fillNotchSettingsMenu(menu, strong);
        });
    }
    ~ChoiceWindow() { tray.reset(); }

    void settle() {
        QCoreApplication::processEvents();
        main.runUntilIdle();
        QCoreApplication::processEvents();
    }
    ChromeColumn& chrome() const { return window->chrome(); }
    BottomBar& bar() const { return *qobject_cast<BottomBar*>(chrome().slotWidget(ChromeColumn::Slot::bottomBar)); }
    QWidget& microphone() const {
        auto* control = qobject_cast<MicrophoneControl*>(chrome().slotWidget(ChromeColumn::Slot::microphone));
        return control->menuButton();
    }
    QWidget& gear() const { return *chrome().slotWidget(ChromeColumn::Slot::settingsMenu); }

    // A click where `widget` shows in its top-level window.
    void press(QWidget& widget) {
        QWidget* top = widget.window();
        QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, widget.mapTo(top, widget.rect().center()));
        settle();
    }
    // The menu a press on `control` opened, or nothing.
    QMenu* pressOpens(QWidget& control) {
        press(control);
        return qobject_cast<QMenu*>(QApplication::activePopupWidget());
    }
    // The camera settings popover's picker named `title`, the popover opened
    // by a press on its pill first.
    QWidget& picker(const char* title) {
        CameraSettingsButton& pill = bar().cameraSettingsButton();
        if (!state().showCameraSettings) press(pill);
        return *pill.popover()->content()->findChild<ui::PopUpButton*>(QString::fromUtf8(title));
    }
    QMenu* openTray() {
        tray->popup(window->mapToGlobal(QPoint(40, 40)));
        settle();
        return qobject_cast<QMenu*>(QApplication::activePopupWidget());
    }
};

// A row's title as the person reads it.
QString choiceTitle(const QAction& action) {
    QString text = action.text();
    text.replace(QLatin1String("&&"), QLatin1String("&"));
    return text;
}

QAction* choiceRow(const QMenu& menu, const QString& title) {
    for (QAction* action : menu.actions()) {
        if (!action->isSeparator() && choiceTitle(*action) == title) return action;
    }
    return nullptr;
}

// A click on the row in the open menu.
void choicePressRow(QMenu& menu, QAction& row) {
    QTest::mouseClick(menu.windowHandle(), Qt::LeftButton, {}, menu.actionGeometry(&row).center());
}

// From an open menu, presses down `path` (submenu titles) and returns the
// last menu, open; nothing when a step is missing or does not open.
QMenu* choiceWalk(ChoiceWindow& w, QMenu* menu, const std::vector<QString>& path) {
    for (const QString& title : path) {
        if (!menu) return nullptr;
        QAction* row = choiceRow(*menu, title);
        if (!row || !row->menu()) {
            ADD_FAILURE() << "no submenu " << title.toStdString();
            return nullptr;
        }
        choicePressRow(*menu, *row);
        // A submenu opens a moment after the press, as the pointer rests.
        QMenu* submenu = row->menu();
        if (!QTest::qWaitFor([submenu] { return submenu->isVisible(); }, 5000)) return nullptr;
        w.settle();
        menu = submenu;
    }
    return menu;
}

std::vector<std::string> choiceMarkedRows(const QMenu& menu) {
    std::vector<std::string> marked;
    for (const QAction* action : menu.actions()) {
        if (action->isCheckable() && action->isChecked()) marked.push_back(choiceTitle(*action).toStdString());
    }
    return marked;
}

void choiceCloseMenus(ChoiceWindow& w) {
    while (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    w.settle();
}

QString choiceText(std::string_view value) { return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())); }

struct ChoiceMenu {
    const char* name;
    bool usb;
    // Makes a known row current (or leaves the model's first choice).
    std::function<void(ChoiceWindow&)> prepare;
    // Opens the menu as a person does; the menu opened.
    std::function<QMenu*(ChoiceWindow&)> open;
    std::vector<QString> path;
    QString current;
    // The rows turn on and off (the guides): choosing one that is on turns it off.
    bool toggles = false;
};

// The built-in look the look menu's case chooses.
const hk::ColorLUT& choiceMono() {
    return hk::LUTLibrary::builtIn().at(3);
}

// Every choice menu, each its own case, so one that fails hides none after it.
std::vector<ChoiceMenu> choiceMenus() {
    const auto microphone = [](ChoiceWindow& w) { return w.pressOpens(w.microphone()); };
    const auto gear = [](ChoiceWindow& w) { return w.pressOpens(w.gear()); };
    const auto tray = [](ChoiceWindow& w) { return w.openTray(); };
    const auto picker = [](const char* title) {
        return [title](ChoiceWindow& w) { return w.pressOpens(w.picker(title)); };
    };
    return {
        {"camera microphone, automatic", true, {}, microphone, {}, "Automatic (DJI Mic first)"},
        {"camera microphone, one chosen", true,
         [](ChoiceWindow& w) {
             w.model->chooseCameraMicrophone(kChoiceInternalMic.id);
             w.camera()->setDevices({kChoiceInternalMic, kChoiceReceiver}, kChoiceInternalMic, {kChoiceWide, kChoiceTall}, kChoiceWide);
             w.emit(CameraEvent::devicesChanged());
         },
         microphone, {}, choiceText(kChoiceInternalMic.displayName())},
        {"computer microphone, the default", false, {}, microphone, {}, "Default Microphone (Built-in Audio)"},
        {"computer microphone, an input", false, [](ChoiceWindow& w) { w.model->setWirelessMicID(kChoiceDeskInput.id); },
         microphone, {}, "Desk Microphone"},
        {"computer microphone, off", false, [](ChoiceWindow& w) { w.model->setWirelessMicID("off"); }, microphone, {},
         "Off: Sound Only on the microSD Card"},
        {"settings, codec", false, [](ChoiceWindow& w) { w.model->setCodec(hk::VideoCodec::h264); }, gear,
         {kRecordingCodecTitle}, choiceText(toString(hk::VideoCodec::h264))},
        {"settings, destination", false, [](ChoiceWindow& w) { w.model->setRecordTarget(RecordTarget::mac); }, gear,
         {kRecordTargetTitle}, choiceText(toString(RecordTarget::mac))},
        {"settings, countdown", false, [](ChoiceWindow& w) { w.model->setCountdownSeconds(5); }, gear,
         {kCountdownTitle}, choiceText(countdownText(5))},
        {"settings, island content", true, [](ChoiceWindow& w) { w.model->setNotchContent(NotchContent::controls); },
         gear, {kNotchTitle, kNotchContentTitle}, choiceText(toString(NotchContent::controls))},
        {"settings, island opening", true, [](ChoiceWindow& w) { w.model->setNotchTrigger(NotchTrigger::click); },
         gear, {kNotchTitle, kNotchTriggerTitle}, choiceText(toString(NotchTrigger::click))},
        {"settings, closing the window", true,
         [](ChoiceWindow& w) { w.model->setCloseBehavior(CloseBehavior::quit); }, gear,
         {kNotchTitle, kCloseBehaviorTitle}, choiceText(toString(CloseBehavior::quit))},
        {"look", true, [](ChoiceWindow& w) { w.model->setSelectedLUT(choiceMono()); },
         [](ChoiceWindow& w) { return w.pressOpens(w.bar().lookMenu()); }, {}, choiceText(choiceMono().name)},
        {"look, none", true, {}, [](ChoiceWindow& w) { return w.pressOpens(w.bar().lookMenu()); }, {},
         choiceText(kNoLookTitle)},
        {"guide", true, [](ChoiceWindow& w) { w.model->toggleGuide(GuideKind::grid); },
         [](ChoiceWindow& w) { return w.pressOpens(w.bar().guideMenu()); }, {}, choiceText(toString(GuideKind::grid)),
         true},
        {"connection", true, {}, [](ChoiceWindow& w) { return w.pressOpens(w.bar().connectionMenu()); }, {},
         choiceText(toString(ConnectionMode::usb))},
        {"format", true, 
         [](ChoiceWindow& w) {
             w.camera()->setDevices({kChoiceInternalMic, kChoiceReceiver}, kChoiceReceiver, {kChoiceWide, kChoiceTall},
                                    kChoiceTall);
             w.emit(CameraEvent::devicesChanged());
         },
         [](ChoiceWindow& w) { return w.pressOpens(w.bar().formatMenu()); }, {}, choiceText(kChoiceTall.description())},
        {"tray, island content", true, [](ChoiceWindow& w) { w.model->setNotchContent(NotchContent::controls); },
         tray, {kNotchTitle, kNotchContentTitle}, choiceText(toString(NotchContent::controls))},
        {"tray, island opening", true, [](ChoiceWindow& w) { w.model->setNotchTrigger(NotchTrigger::hover); }, tray,
         {kNotchTitle, kNotchTriggerTitle}, choiceText(toString(NotchTrigger::hover))},
        {"tray, closing the window", true,
         [](ChoiceWindow& w) { w.model->setCloseBehavior(CloseBehavior::keepInNotch); }, tray,
         {kNotchTitle, kCloseBehaviorTitle}, choiceText(toString(CloseBehavior::keepInNotch))},
        {"camera settings, codec", false, {}, picker("Codec"), {}, {}},
        {"camera settings, resolution", false, {}, picker("Resolution"), {}, {}},
        {"camera settings, frame rate", false, {}, picker("Frame Rate"), {}, {}},
        {"camera settings, color", false, {}, picker("Color"), {}, {}},
        {"camera settings, exposure", false, {}, picker("Mode"), {}, {}},
    };
}

void PrintTo(const ChoiceMenu& menu, std::ostream* out) {
    *out << menu.name;
}

// "camera microphone, one chosen" as "CameraMicrophoneOneChosen".
std::string choiceCaseName(const testing::TestParamInfo<ChoiceMenu>& info) {
    std::string name;
    bool upper = true;
    for (const char c : std::string_view(info.param.name)) {
        const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alphanumeric) {
            upper = true;
            continue;
        }
        name.push_back(upper && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
        upper = false;
    }
    return name;
}

class ChoiceMenusTest : public testing::TestWithParam<ChoiceMenu> {};

TEST_P(ChoiceMenusTest, ChoosingTheCurrentRowLeavesItMarked) {
    ChoiceMotionOff still;
    const ChoiceMenu& c = GetParam();
    ChoiceWindow w(c.usb);
    // A failed step leaves no menu open for the window's end.
    struct ClosingMenus {
        ChoiceWindow& window;
        ~ClosingMenus() { choiceCloseMenus(window); }
    } closing{w};
    if (c.prepare) c.prepare(w);
    w.settle();
    // The row the menu marks first; a picker's face names it.
    QString current = c.current;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        QMenu* menu = choiceWalk(w, c.open(w), c.path);
        ASSERT_NE(menu, nullptr) << "the menu opens";
        if (current.isEmpty()) {
            const std::vector<std::string> first = choiceMarkedRows(*menu);
            ASSERT_EQ(first.size(), 1u);
            current = QString::fromStdString(first.front());
        }
        const bool on = !c.toggles || round % 2 == 0;
        EXPECT_EQ(choiceMarkedRows(*menu), on ? std::vector<std::string>{current.toStdString()} : std::vector<std::string>{});
        if (round == 2) break;
        QAction* row = choiceRow(*menu, current);
        ASSERT_NE(row, nullptr);
        int chosen = 0;
        const QObject counting;
        QObject::connect(row, &QAction::triggered, &counting, [&chosen] { ++chosen; });
        choicePressRow(*menu, *row);
        EXPECT_EQ(chosen, 1) << "the press chose the row";
        w.settle();
        EXPECT_FALSE(menu->isVisible()) << "choosing a row closes the menu";
        choiceCloseMenus(w);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryMenu, ChoiceMenusTest, testing::ValuesIn(choiceMenus()), choiceCaseName);

}  // namespace
}  // namespace lumenhollow
