#pragma once

// Updater: the "Check for Updates…" command's side. The Linux build carries
// no updater of its own (the system's package manager brings new versions),
// so a check says so, naming this version. `canCheckForUpdates` is true but
// while that message is up, so the menu item cannot stack a second one.
// One per process, owned by the application. GUI thread only.

#include <QObject>
#include <QString>

#include <functional>

namespace lumenhollow {

// What a check says: "Lumenhollow <version>. Updates come from your
// system's package manager."
QString updateCheckMessage(const QString& version);

class Updater final : public QObject {
    Q_OBJECT

public:
    // Shows `text` and calls `dismissed` once when the user has closed it.
    using ShowMessage = std::function<void(const QString& text, std::function<void()> dismissed)>;

    Updater(QString version, ShowMessage showMessage, QObject* parent = nullptr);

    bool canCheckForUpdates() const { return canCheck_; }
    // Does nothing while a check's message is up.
    void checkForUpdates();

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);

private:
    void setCanCheck(bool canCheck);

    const QString version_;
    const ShowMessage showMessage_;
    bool canCheck_ = true;
};

}  // namespace lumenhollow
