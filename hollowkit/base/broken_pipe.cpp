#include "hollowkit/base/broken_pipe.h"

#include <signal.h>

namespace hollowkit {
namespace {

// Nothing to do: being caught is what turns the signal into EPIPE.
extern "C" void onBrokenPipe(int) {}

}  // namespace

bool installBrokenPipeHandler() {
    struct sigaction action {};
    action.sa_handler = onBrokenPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGPIPE, &action, nullptr) == 0;
}

}  // namespace hollowkit
