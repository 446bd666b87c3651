#pragma once

// The key sequences that tooltips name. The "Camera" menu registers the same
// sequences, so a tooltip always names the key that really works.

#include <QKeySequence>
#include <string>

namespace lumenhollow::ui {

inline QKeySequence recordShortcut() { return QKeySequence(Qt::CTRL | Qt::Key_R); }
inline QKeySequence autoFrameShortcut() { return QKeySequence(Qt::CTRL | Qt::Key_F); }
inline QKeySequence flipShortcut() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F); }
inline QKeySequence fullScreenShortcut() { return QKeySequence(Qt::CTRL | Qt::META | Qt::Key_F); }
inline QKeySequence outputFolderShortcut() { return QKeySequence(Qt::CTRL | Qt::Key_O); }
inline QKeySequence photoShortcut() { return QKeySequence(Qt::CTRL | Qt::Key_S); }
inline QKeySequence faceTrackingShortcut() { return QKeySequence(Qt::CTRL | Qt::Key_T); }
// Handled by the video surface itself, not by a menu.
inline QKeySequence recenterKey() { return QKeySequence(Qt::Key_C); }
inline QKeySequence recordScreenShortcut() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R); }
inline QKeySequence saveSceneShortcut() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S); }
inline QKeySequence keyboardShortcutsShortcut() { return QKeySequence(Qt::CTRL | Qt::Key_Slash); }
// Alt and the digit `index` + 1: recalls the scene at `index` (0...8).
inline QKeySequence sceneRecallShortcut(int index) { return QKeySequence(Qt::ALT | (Qt::Key_1 + index)); }

// "Ctrl+R", in the desktop's own spelling of the keys.
std::string shortcutText(const QKeySequence& sequence);

// `text` followed by the shortcut in parentheses: "Start recording (Ctrl+R)".
std::string withShortcut(const std::string& text, const QKeySequence& sequence);

}  // namespace lumenhollow::ui
