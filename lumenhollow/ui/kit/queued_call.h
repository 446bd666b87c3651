#pragma once

// Runs `task` on `context`'s thread through Qt's event queue, in the order
// posted. ThreadSanitizer does not see the locks inside that queue, so the
// call marks the order Qt gives it: built before it is posted, run after,
// let go after it ran. Any thread; nothing runs once `context` is gone.

#include <QObject>

#include <functional>

namespace lumenhollow::ui {

void postQueued(QObject& context, std::function<void()> task);

}  // namespace lumenhollow::ui
