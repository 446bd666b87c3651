#include "lumenhollow/ui/window/activating_press.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumenhollow::test {
namespace {

// One thing the window hears: an activation, a take-focus at a time, or a
// press at a time (with whether it only activates the window).
struct Heard {
    enum class Kind { activated, deactivated, takeFocus, press } kind;
    uint32_t time = 0;
    bool activating = false;
};

Heard activated() { return {Heard::Kind::activated}; }
Heard deactivated() { return {Heard::Kind::deactivated}; }
Heard takeFocus(uint32_t time) { return {Heard::Kind::takeFocus, time}; }
Heard press(uint32_t time, bool activating) { return {Heard::Kind::press, time, activating}; }

TEST(ActivatingPressTest, OnlyThePressThatCameWithAnActivationAndItsTakeFocusIsSwallowed) {
    struct Case {
        const char* name;
        std::vector<Heard> heard;
    };
    const std::vector<Case> cases{
        {"a click on a window in the back (openbox: focus, take-focus, press)",
         {activated(), takeFocus(4447539), press(4447539, true)}},
        {"the take-focus ahead of the activation (another manager, or both in one read)",
         {takeFocus(700), activated(), press(700, true)}},
        {"the next click on the window now in front drags",
         {activated(), takeFocus(4447539), press(4447539, true), takeFocus(4448151), press(4448151, false)}},
        {"a take-focus with the press's time but no activation since the last press",
         {takeFocus(900), press(900, false)}},
        {"openbox answers the window's activation request with a take-focus ahead of the press",
         {activated(), takeFocus(4447539), takeFocus(4447541), press(4447539, true)}},
        {"the same with the answer at the press's own time",
         {activated(), takeFocus(4447539), takeFocus(4447539), press(4447539, true)}},
        {"the same with the take-focus ahead of the activation",
         {takeFocus(700), activated(), takeFocus(730), press(700, true)}},
        {"the answer between the two, then the next click drags",
         {activated(), takeFocus(100), takeFocus(102), press(100, true), takeFocus(800), press(800, false)}},
        {"made active from the keyboard: its take-focus meets no press, the click's has no activation",
         {activated(), takeFocus(500), takeFocus(900), press(900, false)}},
        {"the same with the keyboard's take-focus ahead of the activation",
         {deactivated(), takeFocus(500), activated(), takeFocus(900), press(900, false)}},
        {"a take-focus no press answered before the window went to the back is forgotten",
         {activated(), takeFocus(50), takeFocus(60), deactivated(), activated(), takeFocus(900), press(900, true)}},
        {"made active from the keyboard, and a manager that sends nothing on a click",
         {activated(), takeFocus(500), press(900, false)}},
        {"an activation before the last press does not count for the next",
         {activated(), press(400, false), takeFocus(900), press(900, false)}},
        {"no take-focus at all: every press drags", {activated(), press(100, false), activated(), press(200, false)}},
        {"a take-focus of another time", {activated(), takeFocus(100), press(101, false)}},
        {"sent back and clicked forward again", {activated(), takeFocus(100), press(100, true), activated(),
                                                  takeFocus(300), press(300, true)}},
        {"a take-focus answers one press only", {activated(), takeFocus(100), press(100, true), press(100, false)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ActivatingPress gate;
        for (size_t i = 0; i < c.heard.size(); ++i) {
            const Heard& step = c.heard[i];
            switch (step.kind) {
                case Heard::Kind::activated: gate.windowActivated(); break;
                case Heard::Kind::deactivated: gate.windowDeactivated(); break;
                case Heard::Kind::takeFocus: gate.takeFocus(step.time); break;
                case Heard::Kind::press: EXPECT_EQ(gate.pressed(step.time), step.activating) << "step " << i; break;
            }
        }
    }
}

}  // namespace
}  // namespace lumenhollow::test
