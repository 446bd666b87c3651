#pragma once

// Runs the GUI thread's event loop until `done` holds, for at most `limit`
// of real time; false when the time ran out.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <functional>

namespace lumenhollow::test {

inline bool spinUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.hasExpired(limit.count())) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

}  // namespace lumenhollow::test
