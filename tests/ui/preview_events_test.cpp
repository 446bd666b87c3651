#include "lumenhollow/ui/kit/preview_events.h"

#include <QKeyEvent>

#include <gtest/gtest.h>

namespace lumenhollow {
namespace {

TEST(PreviewEventsTest, WheelDeltasBecomeLinesOrPrecisePoints) {
    const struct {
        const char* name;
        QPoint pixel;
        QPoint angle;
        double delta;
        bool precise;
    } cases[] = {
        {"one notch", {}, {0, 120}, 1, false},
        {"two notches back", {}, {0, -240}, -2, false},
        {"half a notch of a fine wheel", {}, {0, 60}, 0.5, false},
        {"touchpad points", {0, 6}, {0, 15}, 6, true},
        {"sideways only", {}, {120, 0}, 0, false},
        {"nothing", {}, {}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PreviewWheelEvent event = previewWheelEvent(c.pixel, c.angle);
        EXPECT_DOUBLE_EQ(event.deltaY, c.delta);
        EXPECT_EQ(event.precise, c.precise);
    }
}

TEST(PreviewEventsTest, KeysReadWithoutModifiers) {
    const struct {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        QString text;  // what the system gives with the modifiers
        PreviewKey previewKey;
        std::string characters;
        bool alt;
    } cases[] = {
        {"Alt+1 gives its digit", Qt::Key_1, Qt::AltModifier, QString(), PreviewKey::none, "1", true},
        {"Shift+C is c", Qt::Key_C, Qt::ShiftModifier, "C", PreviewKey::none, "c", false},
        {"Ctrl+C is c", Qt::Key_C, Qt::ControlModifier, QString(QChar(3)), PreviewKey::none, "c", false},
        {"keypad plus", Qt::Key_Plus, Qt::KeypadModifier, "+", PreviewKey::none, "+", false},
        {"an arrow with Alt", Qt::Key_Left, Qt::AltModifier, QString(), PreviewKey::left, "", true},
        {"Escape", Qt::Key_Escape, Qt::NoModifier, QString(QChar(27)), PreviewKey::escape, "", false},
        {"other text passes as it is", Qt::Key_Comma, Qt::NoModifier, ",", PreviewKey::none, ",", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QKeyEvent event(QEvent::KeyPress, c.key, c.modifiers, c.text);
        const PreviewKeyEvent key = previewKeyEvent(event);
        EXPECT_EQ(key.key, c.previewKey);
        EXPECT_EQ(key.text, c.characters);
        EXPECT_EQ(key.alt, c.alt);
    }
}

}  // namespace
}  // namespace lumenhollow
