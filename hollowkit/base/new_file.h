#pragma once

// Files that must never take an existing file's place: a copy kept beside
// the settings, a refused file moved aside. Both go in by one step that
// replaces nothing, so an earlier file (which may be all that is left of
// the user's data) survives whatever comes after it. Any thread.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

#include "hollowkit/base/held_folder.h"
#include "hollowkit/base/result.h"

namespace hollowkit {

// Renames `from` to `to` unless `to` exists (then EEXIST, nothing moved).
// renameat2's RENAME_NOREPLACE; where the file system lacks it, a hard
// link and an unlink, and where that is refused too (no hard links), a
// look then a plain rename. The folder is not flushed.
std::error_code renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);
// The same between names in held folders (`fromName` in `from`, `toName` in
// `to`), whatever their paths have become.
std::error_code renameWithoutReplacing(const HeldFolder& from, const std::string& fromName, const HeldFolder& to,
                                       const std::string& toName);

// Writes `data` into a new file in `folder` named `nameFor(1)`, or
// `nameFor(2)`, `nameFor(3)` ... up to `nameFor(tries)` while a name is
// taken. The data is written and flushed into a file without a name
// (O_TMPFILE), which then takes its name by one link that replaces nothing,
// and the folder is flushed: after a crash the file is either whole under
// its name or absent, and nothing else of the write is left. `nameFor` is
// asked only once the data is whole. The path written, or the failing
// call's errno (EEXIST when every name was taken).
Result<std::filesystem::path, std::error_code> writeNewFile(const std::filesystem::path& folder,
                                                            std::string_view data,
                                                            std::filesystem::perms permissions,
                                                            const std::function<std::string(int)>& nameFor,
                                                            int tries);
// The same in a held folder: the file goes to that folder wherever it now
// is. The path returned is the name in the folder's opening path.
Result<std::filesystem::path, std::error_code> writeNewFile(const HeldFolder& folder, std::string_view data,
                                                            std::filesystem::perms permissions,
                                                            const std::function<std::string(int)>& nameFor,
                                                            int tries);

// A new, empty file "<prefix>XXXXXX" in `folder` (XXXXXX six letters or
// digits), created exclusively with mode 0600, open for reading and
// writing; `name` receives its name. The error is the failing call's errno.
Result<UniqueFd, std::error_code> createUniqueFile(const HeldFolder& folder, std::string_view prefix,
                                                   std::string& name);

// The same, held: an exclusive flock is taken on it before it is returned,
// so a clearing of a killed run's leftovers (which removes only what nobody
// holds) leaves it while it is written. A file that lost its name before
// the lock was taken (such a clearing took it) is made again. The lock goes
// with the last descriptor.
Result<UniqueFd, std::error_code> createHeldUniqueFile(const HeldFolder& folder, std::string_view prefix,
                                                       std::string& name);

namespace detail {
// The way where unnamed files are refused (or /proc is missing): one hidden
// temporary, held (createHeldUniqueFile), written and flushed, then moved
// into place by one rename that replaces nothing, then the folder flushed.
// A crash while the data is written leaves that temporary; a failure
// removes it.
Result<std::filesystem::path, std::error_code> writeNewFileByRename(const std::filesystem::path& folder,
                                                                    std::string_view data,
                                                                    std::filesystem::perms permissions,
                                                                    const std::function<std::string(int)>& nameFor,
                                                                    int tries);
Result<std::filesystem::path, std::error_code> writeNewFileByRename(const HeldFolder& folder, std::string_view data,
                                                                    std::filesystem::perms permissions,
                                                                    const std::function<std::string(int)>& nameFor,
                                                                    int tries);
}  // namespace detail

}  // namespace hollowkit
