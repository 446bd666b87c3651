#include "lumenhollow/ui/kit/popover_keys.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace lumenhollow::ui {
namespace {

QKeySequence key(QKeyCombination combination) { return QKeySequence(combination); }

// The item a key gives while a popover is open, over one menu bar: the
// keys with Ctrl, Alt or Meta and the function keys go to the first
// available item that has them; the keys the popover's controls work with
// stay in the popover whatever the menus say.
TEST(PopoverKeys, AKeyGivesTheFirstAvailableItemWithIt) {
    const std::vector<MenuKeyItem> items{
        {{key(Qt::CTRL | Qt::Key_R)}, true},                                       // 0
        {{key(Qt::ALT | Qt::Key_1)}, false},                                       // 1 disabled
        {{key(Qt::ALT | Qt::Key_1)}, true},                                        // 2
        {{key(Qt::Key_F11), key(Qt::CTRL | Qt::META | Qt::Key_F)}, true},          // 3
        {{key(Qt::CTRL | Qt::Key_S)}, false},                                      // 4 disabled
        {{key(Qt::Key_Escape), key(Qt::Key_Return), key(Qt::Key_Space)}, true},   // 5 plain keys
        {{key(Qt::Key_Left), key(Qt::SHIFT | Qt::Key_Tab), key(Qt::Key_C)}, true}, // 6 plain keys
        {{QKeySequence(Qt::CTRL | Qt::Key_K, Qt::CTRL | Qt::Key_C)}, true},        // 7 two strokes
    };
    const struct {
        const char* name;
        QKeySequence key;
        std::optional<size_t> item;
    } cases[] = {
        {"Ctrl+R", key(Qt::CTRL | Qt::Key_R), 0},
        {"Alt+1 skips the disabled item", key(Qt::ALT | Qt::Key_1), 2},
        {"a function key without modifiers", key(Qt::Key_F11), 3},
        {"the second key of an item", key(Qt::CTRL | Qt::META | Qt::Key_F), 3},
        {"only a disabled item has it", key(Qt::CTRL | Qt::Key_S), std::nullopt},
        {"no item has it", key(Qt::CTRL | Qt::SHIFT | Qt::Key_R), std::nullopt},
        {"Escape closes the popover", key(Qt::Key_Escape), std::nullopt},
        {"Return presses its default button", key(Qt::Key_Return), std::nullopt},
        {"Space presses its focused control", key(Qt::Key_Space), std::nullopt},
        {"an arrow moves in its controls", key(Qt::Key_Left), std::nullopt},
        {"Shift+Tab moves the focus back", key(Qt::SHIFT | Qt::Key_Tab), std::nullopt},
        {"a letter is text", key(Qt::Key_C), std::nullopt},
        {"a key of two strokes", QKeySequence(Qt::CTRL | Qt::Key_K, Qt::CTRL | Qt::Key_C), std::nullopt},
        {"no key", QKeySequence(), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(menuItemForKey(c.key, items), c.item);
    }
    // The popover's shortcuts: each of those keys once.
    EXPECT_EQ(menuKeysWhilePopoverOpen(items),
              (std::vector<QKeySequence>{key(Qt::CTRL | Qt::Key_R), key(Qt::ALT | Qt::Key_1), key(Qt::Key_F11),
                                         key(Qt::CTRL | Qt::META | Qt::Key_F)}));
}

}  // namespace
}  // namespace lumenhollow::ui
