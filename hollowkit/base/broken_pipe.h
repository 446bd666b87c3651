#pragma once

// SIGPIPE caught, so that a write to a pipe or socket whose reader has gone
// fails with EPIPE instead of ending the process: a launcher's closed pipe,
// a log reader that exits or a closed journal stream never ends the program
// or a recording. Every writer handles the failed write itself (PocketLog
// stops writing to that stream).
//
// The handler does nothing, and SIG_IGN is never used: an ignored signal
// passes across exec to every program started (the relaunched application,
// the tools), a caught one is back at its default there.
//
// Process-wide, so it is installed once from main(), before any thread
// starts; a second call does nothing new. Never from library code.

namespace hollowkit {

// False when the handler could not be set (SIGPIPE then keeps its default).
bool installBrokenPipeHandler();

}  // namespace hollowkit
