#include "lumenhollow/ui/shell/updater.h"

#include <QPointer>

#include <utility>

namespace lumenhollow {

QString updateCheckMessage(const QString& version) {
    return QStringLiteral("Lumenhollow %1. Updates come from your system's package manager.").arg(version);
}

Updater::Updater(QString version, ShowMessage showMessage, QObject* parent)
    : QObject(parent), version_(std::move(version)), showMessage_(std::move(showMessage)) {}

void Updater::checkForUpdates() {
    if (!canCheck_ || !showMessage_) return;
    setCanCheck(false);
    // The message may outlive the updater at quit.
    showMessage_(updateCheckMessage(version_), [guard = QPointer<Updater>(this)] {
        if (guard) guard->setCanCheck(true);
    });
}

void Updater::setCanCheck(bool canCheck) {
    if (canCheck_ == canCheck) return;
    canCheck_ = canCheck;
    Q_EMIT canCheckForUpdatesChanged(canCheck);
}

}  // namespace lumenhollow
