#pragma once

// What the keyboard-shortcuts sheet lists: four sections of keys and what
// they do, with every key text made from the key sequence that really
// works on this desktop ("Ctrl+R", not a hand-typed copy), and the width of
// the key column that keeps every action text at one x. No widgets.

#include <QKeySequence>

#include <string>
#include <vector>

namespace lumenhollow {

struct ShortcutItem {
    std::string keys;
    std::string action;
    bool operator==(const ShortcutItem&) const = default;
};

struct ShortcutSection {
    std::string title;
    std::vector<ShortcutItem> items;
    bool operator==(const ShortcutSection&) const = default;
};

// "Capture", "Gimbal", "Framing" and "Scenes", in display order.
const std::vector<ShortcutSection>& shortcutSections();

// The text of one key chip: the desktop's name of `sequence`, except that
// the arrows and the minus key show as their glyphs, which read better on a
// chip than "Left" or "-".
std::string keyChipText(const QKeySequence& sequence);

// The key column is this wide at least; wider when a chip needs more, so a
// long key name ("Ctrl+Shift+R") never runs into its action text.
inline constexpr int kShortcutKeyColumn = 96;
int shortcutKeyColumnWidth(const std::vector<int>& chipWidths);

}  // namespace lumenhollow
