#include "lumenhollow/ui/shell/instance_refusal.h"

namespace lumenhollow {
namespace {

constexpr const char* kTitle = "Lumenhollow";
constexpr const char* kNotAnswering = "Lumenhollow is already running on these settings, but it does not answer.";
constexpr const char* kStillEnding = "Lumenhollow is still ending on these settings.";
// %1: the process id. A stopped process ends only once it goes on, or when killed.
constexpr const char* kStoppedHowToEnd =
    "It is process %1, and it has been stopped. To let it go on, run:\n    kill -CONT %1\n"
    "To end it, run:\n    kill -KILL %1";
constexpr const char* kHungHowToEnd =
    "It is process %1. To end it, run:\n    kill %1\nIf it has not ended a minute later, run:\n    kill -KILL %1";
constexpr const char* kUnknownHowToEnd =
    "To end it, find its process number with:\n    pgrep -a lumenhollow\nand run kill with that number.";
constexpr const char* kEndingWait = "It is process %1, finishing what it was doing.";
constexpr const char* kStartAgain = "Start Lumenhollow again once it has ended.";
// %1: the settings folder.
constexpr const char* kSettingsFolder = "Settings: %1";

}  // namespace

InstanceRefusal instanceRefusal(const InstanceRefusalFacts& facts) {
    InstanceRefusal refusal;
    refusal.title = QString::fromUtf8(kTitle);
    const QString pid = facts.holderPid ? QString::number(*facts.holderPid) : QString();
    QString howTo;
    if (facts.claim == InstanceClaim::ending) {
        refusal.text = QString::fromUtf8(kStillEnding);
        howTo = facts.holderPid ? QString::fromUtf8(kEndingWait).arg(pid) + QLatin1Char(' ') : QString();
        howTo += QString::fromUtf8(kStartAgain);
    } else {
        refusal.text = QString::fromUtf8(kNotAnswering);
        howTo = !facts.holderPid      ? QString::fromUtf8(kUnknownHowToEnd)
                : facts.holderStopped ? QString::fromUtf8(kStoppedHowToEnd).arg(pid)
                                      : QString::fromUtf8(kHungHowToEnd).arg(pid);
    }
    refusal.detail =
        howTo + QStringLiteral("\n\n") + QString::fromUtf8(kSettingsFolder).arg(QString::fromStdString(facts.settingsFolder));
    return refusal;
}

InstanceRefusalBox::InstanceRefusalBox(const InstanceRefusal& refusal)
    : QMessageBox(QMessageBox::Warning, refusal.title, refusal.text, QMessageBox::Ok) {
    setInformativeText(refusal.detail);
    // The commands are there to be copied into a terminal.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setDefaultButton(QMessageBox::Ok);
}

}  // namespace lumenhollow
