#include "lumenhollow/ui/kit/shortcuts.h"

namespace lumenhollow::ui {

std::string shortcutText(const QKeySequence& sequence) {
    return sequence.toString(QKeySequence::NativeText).toStdString();
}

std::string withShortcut(const std::string& text, const QKeySequence& sequence) {
    return text + " (" + shortcutText(sequence) + ")";
}

}  // namespace lumenhollow::ui
