// The program as a screen reader finds it: through AT-SPI, on an
// accessibility bus of the desktop's own (at-spi-bus-launcher on a private
// session bus), read with pyatspi as Orca reads it. The screen-recording
// options, opened by a click, are a child of the application's tree, and
// their "Record Screen and Camera" switch is a check box there, off and
// then on: a two-state control whatever its state. Toggled through its
// accessible action, it asks the model, as a click does. Closed, the
// options leave the tree.

#include <unistd.h>

#include <csignal>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/base/command_runner.h"
#include "hollowkit/testing/private_dbus_daemon.h"
#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_screen.h"
#include "tests/journeys/journey_windows.h"

namespace lumenhollow::journey {
namespace {

constexpr const char* kA11yBusLauncher = "/usr/libexec/at-spi-bus-launcher";
constexpr const char* kA11yPython = "/usr/bin/python3";
constexpr const char* kA11ySwitchName = "Record Screen and Camera";
constexpr int kA11yOptionsWidth = 360;
constexpr int kA11yWindowWidth = 1152;

// One accessible object as the tree script prints it.
struct AccessibleLine {
    int depth = 0;
    std::string role;
    std::string name;
    std::string states;   // comma-separated, sorted
    std::string actions;  // comma-separated, as offered
    bool has(const std::string& state) const { return ("," + states + ",").find("," + state + ",") != std::string::npos; }
    bool offers(const std::string& action) const {
        return ("," + actions + ",").find("," + action + ",") != std::string::npos;
    }
};

class AccessibilityJourney : public ReturningUserJourney {
protected:
    void SetUp() override {
        if (::access(kA11yBusLauncher, X_OK) != 0) GTEST_SKIP() << "at-spi2-core is not installed (tools/install-deps)";
        if (!hollowkit::PrivateDbusDaemon::program()) GTEST_SKIP() << "dbus-daemon is not installed";
        if (hollowkit::CommandRunner::run(kA11yPython, {"-c", "import pyatspi"}, {}, false).status != 0) {
            GTEST_SKIP() << "python3-pyatspi is not installed (tools/install-deps)";
        }
        ReturningUserJourney::SetUp();
        auto started = session_.start();
        ASSERT_TRUE(started.has_value()) << started.error();
    }

    std::vector<std::string> busEnvironment() const {
        return {"DBUS_SESSION_BUS_ADDRESS=" + session_.address(),
                "XDG_RUNTIME_DIR=" + (desktop_.home() / "runtime").string()};
    }

    // Runs the tree script as a screen reader on this desktop would; its
    // status and output.
    hollowkit::CommandResult script(const std::vector<std::string>& arguments) {
        std::vector<std::string> full = busEnvironment();
        full.push_back("DISPLAY=" + desktop_.x().displayName());
        full.push_back(kA11yPython);
        full.push_back(std::string(LUMENHOLLOW_SOURCE_DIR) + "/tests/journeys/atspi_tree.py");
        full.push_back("Lumenhollow");
        full.insert(full.end(), arguments.begin(), arguments.end());
        return hollowkit::CommandRunner::run("/usr/bin/env", full, {}, false);
    }

    // The application's tree, once the desktop lists it.
    std::vector<AccessibleLine> tree() {
        std::vector<AccessibleLine> objects;
        hollowkit::CommandResult read;
        waitFor([&] {
            read = script({});
            return read.status != 2;
        });
        std::istringstream lines(read.output);
        std::string line;
        while (std::getline(lines, line)) {
            std::vector<std::string> fields;
            std::istringstream parts(line);
            std::string field;
            while (std::getline(parts, field, '\t')) fields.push_back(field);
            if (fields.size() < 3 || fields[0].empty() || fields[0].find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            objects.push_back({std::stoi(fields[0]), fields[1], fields[2], fields.size() > 3 ? fields[3] : "",
                               fields.size() > 4 ? fields[4] : ""});
        }
        return objects;
    }

    hollowkit::PrivateDbusDaemon session_;
};

// The application's direct children that are dialogs, and the objects under
// each, by index into the tree.
std::vector<size_t> dialogsOfTheApplication(const std::vector<AccessibleLine>& tree) {
    std::vector<size_t> dialogs;
    for (size_t i = 0; i < tree.size(); ++i) {
        if (tree[i].depth == 1 && tree[i].role == "dialog") dialogs.push_back(i);
    }
    return dialogs;
}

// The first object under `root` of `role` named `name` (the switch's label
// carries its name too).
std::optional<AccessibleLine> findUnder(const std::vector<AccessibleLine>& tree, size_t root, const std::string& role,
                                        const std::string& name) {
    for (size_t i = root + 1; i < tree.size() && tree[i].depth > tree[root].depth; ++i) {
        if (tree[i].name == name && tree[i].role == role) return tree[i];
    }
    return std::nullopt;
}

std::string describeTree(const std::vector<AccessibleLine>& tree) {
    std::string text;
    for (const AccessibleLine& a : tree) {
        if (a.depth <= 1 || a.name == kA11ySwitchName) {
            text += std::to_string(a.depth) + " " + a.role + " \"" + a.name + "\" [" + a.states + "]\n";
        }
    }
    return text;
}

TEST_F(AccessibilityJourney, TheScreenOptionsAndTheirSwitchAreInTheApplicationsTree) {
    JourneyApp launcher(desktop_, "a11y-bus", kA11yBusLauncher, busEnvironment(), {"--launch-immediately"});
    // Ended by SIGTERM however the test ends: killed, the launcher would
    // leave its accessibility bus running.
    struct EndedByTerm {
        JourneyApp& launcher;
        ~EndedByTerm() {
            if (!launcher.running()) return;
            launcher.signal(SIGTERM);
            EXPECT_TRUE(launcher.waitForExit(30s)) << launcher.log();
        }
    } endedByTerm{launcher};
    std::vector<std::string> extra = busEnvironment();
    extra.push_back("QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1");
    JourneyApp app(desktop_, "a11y", LUMENHOLLOW_DEMO_PATH, extra);
    ASSERT_TRUE(app.waitForState(
        [](const nlohmann::json& s) {
            return s["picture"] == true && s["connection"] == "usb" && s["recordScreen"] == false;
        },
        60s))
        << app.describe();
    ASSERT_TRUE(dialogsOfTheApplication(tree()).empty()) << describeTree(tree());

    const std::optional<ScreenWindow> main = mainWindowOf(desktop_, app.pid(), kA11yWindowWidth);
    ASSERT_TRUE(main) << app.describe();
    const std::optional<ScreenRect> origin = windowOnScreen(desktop_.x().displayName(), main->id);
    ASSERT_TRUE(origin);
    // The button after the record pill: 60 right of the window's middle, 99
    // above its bottom edge.
    ASSERT_TRUE(app.clickOnScreen(origin->x + main->rect.width / 2 + 60, origin->y + main->rect.height - 99));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["screenOptions"] == true; }))
        << app.describe();
    ASSERT_TRUE(waitFor([&] { return visibleWindowOfWidth(desktop_, app.pid(), kA11yOptionsWidth).has_value(); }));

    const struct {
        const char* name;
        bool on;
    } steps[] = {{"off", false}, {"toggled on", true}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.on) {
            const hollowkit::CommandResult toggled = script({"--do", "Toggle", kA11ySwitchName});
            ASSERT_EQ(toggled.status, 0) << toggled.output;
            ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["recordScreen"] == true; }))
                << app.describe();
        }
        std::vector<AccessibleLine> objects;
        std::optional<AccessibleLine> onOff;
        // The bridge is asked anew each time; the state report may come
        // before the tree has the new value.
        waitFor([&] {
            objects = tree();
            const std::vector<size_t> dialogs = dialogsOfTheApplication(objects);
            onOff = dialogs.size() == 1 ? findUnder(objects, dialogs[0], "check box", kA11ySwitchName) : std::nullopt;
            return onOff && onOff->has("checked") == step.on;
        });
        ASSERT_EQ(dialogsOfTheApplication(objects).size(), 1u)
            << "the open options are not a child of the application:\n" << describeTree(objects);
        ASSERT_TRUE(onOff) << "no switch in the options:\n" << describeTree(objects);
        EXPECT_EQ(onOff->has("checked"), step.on) << describeTree(objects);
        EXPECT_TRUE(onOff->has("enabled") && onOff->has("focusable")) << describeTree(objects);
    }

    ASSERT_TRUE(desktop_.x().xdotool({"key", "--clearmodifiers", "Escape"}).status == 0);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["screenOptions"] == false; }))
        << app.describe();
    std::vector<AccessibleLine> closed;
    EXPECT_TRUE(waitFor([&] {
        closed = tree();
        return dialogsOfTheApplication(closed).empty();
    })) << "the closed options stayed in the tree:\n" << describeTree(closed);

    ASSERT_TRUE(app.key("ctrl+q"));
    EXPECT_EQ(app.waitForExit(120s), std::optional<int>(0)) << app.describe();
}

// The first object of the tree whose name starts with `prefix` and whose
// role is a button's.
std::optional<AccessibleLine> buttonNamed(const std::vector<AccessibleLine>& tree, const std::string& prefix) {
    for (const AccessibleLine& a : tree) {
        if (a.name.rfind(prefix, 0) == 0 && a.role.find("button") != std::string::npos) return a;
    }
    return std::nullopt;
}

// Whether the button named `name` reads as expanded: its menu or popover is open.
bool expanded(const std::vector<AccessibleLine>& tree, const std::string& name) {
    for (const AccessibleLine& a : tree) {
        if (a.name == name && a.role.find("button") != std::string::npos && a.has("expanded")) return true;
    }
    return false;
}

std::string describeButtons(const std::vector<AccessibleLine>& tree) {
    std::string text;
    for (const AccessibleLine& a : tree) {
        if (a.depth <= 1 || a.role.find("button") != std::string::npos || a.role.find("menu") != std::string::npos) {
            text += std::to_string(a.depth) + " " + a.role + " \"" + a.name + "\" [" + a.states + "] {" + a.actions +
                    "}\n";
        }
    }
    return text;
}

TEST_F(AccessibilityJourney, EveryPillIsAButtonWhoseActionOpensItAndASceneRowsButtonsAreInTheTree) {
    JourneyApp launcher(desktop_, "a11y-bus", kA11yBusLauncher, busEnvironment(), {"--launch-immediately"});
    struct EndedByTerm {
        JourneyApp& launcher;
        ~EndedByTerm() {
            if (!launcher.running()) return;
            launcher.signal(SIGTERM);
            EXPECT_TRUE(launcher.waitForExit(30s)) << launcher.log();
        }
    } endedByTerm{launcher};
    std::vector<std::string> extra = busEnvironment();
    extra.push_back("QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1");
    JourneyApp app(desktop_, "a11y", LUMENHOLLOW_DEMO_PATH, extra);
    ASSERT_TRUE(app.waitForState(
        [](const nlohmann::json& s) {
            return s["picture"] == true && s["connection"] == "usb";
        },
        60s))
        << app.describe();
    // One scene saved, so its row is there to read.
    ASSERT_TRUE(app.key("ctrl+shift+s"));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["scenes"] == 1; })) << app.describe();

    // The pills and the menu buttons, found by the start of their names;
    // each opens a menu (or, for the scenes, its popover) by its action.
    const struct {
        const char* prefix;
        bool popover;
    } pills[] = {{"Scenes", true}, {"Settings", false}, {"Guide", false}, {"LUT", false}, {"Osmo Pocket", false}};
    for (const auto& pill : pills) {
        SCOPED_TRACE(pill.prefix);
        std::vector<AccessibleLine> objects = tree();
        const std::optional<AccessibleLine> button = buttonNamed(objects, pill.prefix);
        ASSERT_TRUE(button) << "no button named " << pill.prefix << ":\n" << describeButtons(objects);
        EXPECT_TRUE(button->role == "push button" || button->role == "push button menu" ||
                    button->role == "menu button")
            << button->role;
        EXPECT_TRUE(button->has("focusable")) << button->states;
        ASSERT_TRUE(button->offers("Press")) << button->actions;
        ASSERT_FALSE(button->has("expanded")) << button->states;
        const size_t windowsBefore = visibleWindows(desktop_, app.pid()).size();
        const hollowkit::CommandResult pressed = script({"--do", "Press", button->name});
        ASSERT_EQ(pressed.status, 0) << pressed.output;
        if (pill.popover) {
            ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["scenesSheet"] == true; }))
                << app.describe();
            // A row's buttons are in the tree, under the open popover.
            std::vector<AccessibleLine> open;
            std::optional<AccessibleLine> remove;
            waitFor([&] {
                open = tree();
                const std::vector<size_t> dialogs = dialogsOfTheApplication(open);
                remove = dialogs.size() == 1 ? findUnder(open, dialogs[0], "push button", "Delete this scene")
                                             : std::nullopt;
                return remove.has_value();
            });
            ASSERT_TRUE(remove) << "no row buttons under the scenes:\n" << describeButtons(open);
            EXPECT_TRUE(remove->offers("Press")) << remove->actions;
            const std::vector<size_t> dialogs = dialogsOfTheApplication(open);
            EXPECT_TRUE(findUnder(open, dialogs[0], "push button", "Go to this scene"));
            EXPECT_TRUE(findUnder(open, dialogs[0], "push button", "Replace with the current camera position"));
        }
        // Its menu or popover is a window on the screen, and the button reads as expanded.
        EXPECT_TRUE(waitFor([&] { return visibleWindows(desktop_, app.pid()).size() > windowsBefore; }))
            << "nothing opened on the screen";
        std::vector<AccessibleLine> open;
        EXPECT_TRUE(waitFor([&] {
            open = tree();
            return expanded(open, button->name);
        })) << "not expanded:\n" << describeButtons(open);
        ASSERT_TRUE(desktop_.x().xdotool({"key", "--clearmodifiers", "Escape"}).status == 0);
        std::vector<AccessibleLine> closed;
        ASSERT_TRUE(waitFor([&] {
            closed = tree();
            return !expanded(closed, button->name) && dialogsOfTheApplication(closed).empty() &&
                   visibleWindows(desktop_, app.pid()).size() == windowsBefore;
        })) << describeButtons(closed);
    }

    ASSERT_TRUE(app.key("ctrl+q"));
    EXPECT_EQ(app.waitForExit(120s), std::optional<int>(0)) << app.describe();
}

}  // namespace
}  // namespace lumenhollow::journey
