#pragma once

// The contents of the look and guide menus, shared by the bottom bar's pill
// menus and the tool rail's round menus: each binds a QMenu to the model, so
// the menu is rebuilt from the model when it opens and its rows call the
// model. GUI thread; `model` must outlive the menu.

class QMenu;

namespace lumenhollow {

class ModelSignals;

// "None", the looks, the imported looks and their removal, import.
void bindLookMenu(QMenu& menu, ModelSignals& model);

// "Grid", "Horizon", "9:16 Frame", each toggled on its own.
void bindGuideMenu(QMenu& menu, ModelSignals& model);

}  // namespace lumenhollow
