#pragma once

// Files that must never take an existing file's place: a copy kept beside
// the settings, a refused file moved aside. Both go in by one rename that
// replaces nothing, so an earlier file (which may be all that is left of
// the user's data) survives whatever comes after it. Any thread.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

#include "hollowkit/base/result.h"

namespace hollowkit {

// Renames `from` to `to` unless `to` exists (then EEXIST, nothing moved).
// renameat2's RENAME_NOREPLACE; where the file system lacks it, a hard
// link and an unlink, and where that is refused too (no hard links), a
// look then a plain rename. The folder is not flushed.
std::error_code renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// Writes `data` into a new file in `folder` named `nameFor(1)`, or
// `nameFor(2)`, `nameFor(3)` ... up to `nameFor(tries)` while a name is
// taken. One hidden temporary is written and flushed, then moved into
// place by one rename that replaces nothing, then the folder is flushed,
// so after a crash the file is either whole under its name or absent. A
// failure removes the temporary. The path written, or the failing call's
// errno (EEXIST when every name was taken).
Result<std::filesystem::path, std::error_code> writeNewFile(const std::filesystem::path& folder,
                                                            std::string_view data,
                                                            std::filesystem::perms permissions,
                                                            const std::function<std::string(int)>& nameFor,
                                                            int tries);

}  // namespace hollowkit
