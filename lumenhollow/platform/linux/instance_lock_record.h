#pragma once

// What the holder of a settings folder's "instance.lock" writes into it for
// later starts: its process id (the first line, as before), where it
// listens ("socket PATH"), and, once it has begun to end, "ending". The
// text is only a hint: anyone who can open the file may write it, so a
// start believes a process id only once it is the lock's holder
// (lockHolder) and a socket only once its peer is this user.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lumenhollow {

struct LockRecord {
    std::optional<int> pid;
    // Where the holder listens; empty: nowhere it could name.
    std::filesystem::path socket;
    bool ending = false;

    bool operator==(const LockRecord&) const = default;
};

std::string formatLockRecord(const LockRecord& record);
LockRecord parseLockRecord(std::string_view text);
LockRecord readLockRecord(int lockFd);
// Replaces the file's text; a file opened read-only keeps what it had.
void writeLockRecord(int lockFd, const LockRecord& record);

// The process holding the flock on the file `lockFd` is open on: the one
// /proc/locks names for it or, where that cannot tell, the process the
// file names when it has the file open. None when nobody holds it, or it
// cannot be told.
std::optional<int> lockHolder(int lockFd);

}  // namespace lumenhollow
