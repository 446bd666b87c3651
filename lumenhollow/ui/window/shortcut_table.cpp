#include "lumenhollow/ui/window/shortcut_table.h"

#include <algorithm>

#include "lumenhollow/ui/kit/shortcuts.h"

namespace lumenhollow {

namespace {

std::string shortcutTableKeyGlyph(int key) {
    switch (key) {
        case Qt::Key_Left: return "\u2190";
        case Qt::Key_Up: return "\u2191";
        case Qt::Key_Right: return "\u2192";
        case Qt::Key_Down: return "\u2193";
        case Qt::Key_Minus: return "\u2212";
        default: return {};
    }
}

}  // namespace

std::string keyChipText(const QKeySequence& sequence) {
    if (sequence.count() == 1 && sequence[0].keyboardModifiers() == Qt::NoModifier) {
        std::string glyph = shortcutTableKeyGlyph(sequence[0].key());
        if (!glyph.empty()) return glyph;
    }
    return ui::shortcutText(sequence);
}

const std::vector<ShortcutSection>& shortcutSections() {
    using ui::shortcutText;
    // The preview reads the arrows, C, + and - and Escape itself; the rest
    // are the Camera menu's commands.
    static const std::vector<ShortcutSection> sections{
        {"Capture",
         {{shortcutText(ui::recordShortcut()), "Record: start or stop"},
          {shortcutText(ui::recordScreenShortcut()), "Record the screen too: on or off"},
          {shortcutText(ui::photoShortcut()), "Snapshot: take a photo"},
          {shortcutText(QKeySequence(Qt::Key_Escape)), "Cancel the countdown"},
          {shortcutText(ui::outputFolderShortcut()), "Open the output folder"}}},
        {"Gimbal",
         {{keyChipText(QKeySequence(Qt::Key_Left)) + " " + keyChipText(QKeySequence(Qt::Key_Up)) + " " +
               keyChipText(QKeySequence(Qt::Key_Right)) + " " + keyChipText(QKeySequence(Qt::Key_Down)),
           "Move the gimbal"},
          {shortcutText(ui::recenterKey()), "Center the gimbal"},
          {shortcutText(ui::flipShortcut()), "Flip to face you"},
          {"Drag", "Aim by dragging the preview"},
          {keyChipText(QKeySequence(Qt::Key_Plus)) + "  " + keyChipText(QKeySequence(Qt::Key_Minus)),
           "Zoom in and out"},
          {"Scroll", "Zoom on the preview"}}},
        {"Framing",
         {{shortcutText(ui::faceTrackingShortcut()), "Tracking: follow your face"},
          {shortcutText(ui::autoFrameShortcut()), "Frame: auto frame once"}}},
        {"Scenes",
         {{shortcutText(ui::saveSceneShortcut()), "Save the current position as a scene"},
          {shortcutText(ui::sceneRecallShortcut(0)) + " \u2026 " + shortcutText(ui::sceneRecallShortcut(8)),
           "Go to scene 1 to 9"}}},
    };
    return sections;
}

int shortcutKeyColumnWidth(const std::vector<int>& chipWidths) {
    int widest = kShortcutKeyColumn;
    for (int width : chipWidths) widest = std::max(widest, width);
    return widest;
}

}  // namespace lumenhollow
