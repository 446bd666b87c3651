#pragma once

// What a start tells the person when Lumenhollow already runs on its
// settings and cannot be brought forward: it does not answer (stopped or
// hung), or it is ending and kept its lock. instanceRefusal() decides the
// words from plain facts; InstanceRefusalBox shows them in a window of its
// own (no main window exists then), whose commands can be copied. GUI
// thread only.

#include <QMessageBox>
#include <QString>
#include <optional>
#include <string>

#include "lumenhollow/platform/instance_lock.h"

namespace lumenhollow {

struct InstanceRefusalFacts {
    InstanceClaim claim = InstanceClaim::none;  // silent or ending
    std::optional<int> holderPid;
    bool holderStopped = false;
    std::string settingsFolder;
};

struct InstanceRefusal {
    QString title;
    QString text;    // what is the matter
    QString detail;  // how to end it
    bool operator==(const InstanceRefusal&) const = default;
};

InstanceRefusal instanceRefusal(const InstanceRefusalFacts& facts);

class InstanceRefusalBox : public QMessageBox {
public:
    // A top-level window: nothing else of the program exists to hold it.
    explicit InstanceRefusalBox(const InstanceRefusal& refusal);
};

}  // namespace lumenhollow
