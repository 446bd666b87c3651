#include "lumenhollow/ui/kit/popover_accessible.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QWindow>

#include <algorithm>
#include <vector>

#include "lumenhollow/ui/kit/popover.h"

namespace lumenhollow::ui {

namespace {

// The open popovers in the order their windows were made, so a popover
// keeps its place among the application's children while it stays open.
std::vector<Popover*> openPopovers() {
    std::vector<Popover*> open;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window->type() != Qt::Popup || !window->isVisible()) continue;
        QAccessibleInterface* root = window->accessibleRoot();
        if (auto* popover = root ? qobject_cast<Popover*>(root->object()) : nullptr) open.push_back(popover);
    }
    return open;
}

class PopoverApplicationAccessible final : public QAccessibleApplication {
public:
    int childCount() const override {
        return QAccessibleApplication::childCount() + static_cast<int>(openPopovers().size());
    }
    QAccessibleInterface* child(int index) const override {
        const int windows = QAccessibleApplication::childCount();
        if (index < windows) return QAccessibleApplication::child(index);
        const std::vector<Popover*> popovers = openPopovers();
        const auto at = static_cast<size_t>(index - windows);
        return at < popovers.size() ? QAccessible::queryAccessibleInterface(popovers[at]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const int window = QAccessibleApplication::indexOfChild(child);
        if (window >= 0 || !child) return window;
        const std::vector<Popover*> popovers = openPopovers();
        const auto found = std::find(popovers.begin(), popovers.end(), child->object());
        if (found == popovers.end()) return -1;
        return QAccessibleApplication::childCount() + static_cast<int>(found - popovers.begin());
    }
};

// A dialog, as the desktop's toolkits present a popover, named by its own
// accessible name or else by the control it opened from.
class PopoverAccessible final : public QAccessibleWidget {
public:
    explicit PopoverAccessible(Popover* popover) : QAccessibleWidget(popover, QAccessible::Dialog) {}

    QString text(QAccessible::Text kind) const override {
        const QString own = QAccessibleWidget::text(kind);
        if (kind != QAccessible::Name || !own.isEmpty()) return own;
        QAccessibleInterface* anchor = QAccessible::queryAccessibleInterface(&static_cast<Popover*>(widget())->anchor());
        return anchor ? anchor->text(QAccessible::Name) : own;
    }
};

QAccessibleInterface* popoverAccessibleFactory(const QString& className, QObject* object) {
    if (object && object == QCoreApplication::instance()) return new PopoverApplicationAccessible;
    if (className == QLatin1String("lumenhollow::ui::Popover") && object && object->isWidgetType()) {
        return new PopoverAccessible(static_cast<Popover*>(object));
    }
    return nullptr;
}

}  // namespace

void installPopoverAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(popoverAccessibleFactory);
        // The bridge asks for the application's object as the program
        // starts, before any popover: one made without the factory is
        // dropped, and the next question makes it anew with the popovers.
        QAccessibleInterface* application = QAccessible::queryAccessibleInterface(QCoreApplication::instance());
        if (application && !dynamic_cast<PopoverApplicationAccessible*>(application)) {
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(application));
        }
        return true;
    }();
    Q_UNUSED(installed);
}

}  // namespace lumenhollow::ui
