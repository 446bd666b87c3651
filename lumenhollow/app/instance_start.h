#pragma once

// A start over the settings folder's instance lock: it runs, hands over to
// the running program (which comes forward), or, when that program does not
// answer or keeps ending, tells the person in a window of its own and ends
// with a failure; a termination signal ends its wait at once. A relaunched
// start ("Quit and Reopen") waits for the program that started it to end.
// Main thread, before the QApplication of the run exists; the termination
// signals installed.

#include <filesystem>
#include <optional>

#include "lumenhollow/platform/instance_lock.h"

namespace lumenhollow {

// Set in a relaunched program's environment: the process id of the program
// that started it, whose lock it waits for rather than handing over to it.
inline constexpr const char* kRelaunchedFromVariable = "LUMENHOLLOW_RELAUNCHED_FROM";

// Nothing: this start holds the lock and runs. Else the exit status to end
// with, the person told why.
std::optional<int> claimSettingsFolder(InstanceLock& lock, const std::filesystem::path& folder, int& argc,
                                       char** argv);

}  // namespace lumenhollow
