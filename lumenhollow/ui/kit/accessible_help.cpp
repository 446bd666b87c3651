#include "lumenhollow/ui/kit/accessible_help.h"

#include <QString>
#include <QVariant>
#include <QWidget>

namespace lumenhollow::ui {

namespace {

// Marks a name that came from the help, so a later help may replace it but
// never a title.
constexpr const char* kNameFromHelp = "lumenhollowNameFromHelp";

}  // namespace

void setHelp(QWidget& widget, const QString& help) {
    if (widget.toolTip() != help) widget.setToolTip(help);
    const bool titled = !widget.accessibleName().isEmpty() && !widget.property(kNameFromHelp).toBool();
    if (titled || widget.accessibleName() == help) return;
    // Setting a name announces a change to a listening reader, so only a real one.
    widget.setAccessibleName(help);
    widget.setProperty(kNameFromHelp, true);
}

void setTitle(QWidget& widget, const QString& title) {
    if (title.isEmpty()) return;
    widget.setProperty(kNameFromHelp, false);
    if (widget.accessibleName() != title) widget.setAccessibleName(title);
}

}  // namespace lumenhollow::ui
