#pragma once

// The standard streams made sure of. A program started with descriptor 0, 1
// or 2 closed (`program <&- >&- 2>&-`, as some launchers and service
// managers start it) hands that number to the next file, pipe or socket it
// opens, and then reads its input from it or writes its output and errors
// into it: a pipe of its own read back as signals, the log written into a
// display's or a bus's socket. Each of the three that is closed is opened
// on /dev/null instead, so nothing opened later can take its number.
//
// Process-wide, so it is called first thing in main(), before anything
// opens a file or starts a thread; never from library code. A descriptor
// that is open is left as it is.

namespace hollowkit {

// False when /dev/null could not be opened for a closed one (it stays closed).
bool openClosedStandardStreams();

}  // namespace hollowkit
