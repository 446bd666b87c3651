#pragma once

// writeFileAtomically: replaces a file so that a reader, or the next start
// after a crash, finds either the old file whole or the new one whole. The
// data goes to a hidden temporary in the same folder, is flushed to the
// disk, and is renamed over the file. A failure removes the temporary and
// leaves an existing file untouched. Any thread; writers of the same file
// must take turns.

#include <filesystem>
#include <string_view>
#include <system_error>

#include "hollowkit/base/held_folder.h"
#include "hollowkit/base/result.h"

namespace hollowkit {

// The new file gets `permissions` (rw-r--r-- by default: an ordinary
// document, not the temporary's private mode). The error is the failing
// call's errno.
Result<void, std::error_code> writeFileAtomically(
    const std::filesystem::path& file, std::string_view data,
    std::filesystem::perms permissions = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read | std::filesystem::perms::others_read);

// The same for the file `name` in a held folder: the temporary, the rename
// and the flush all go to that folder, wherever its path now leads. The
// path form holds the file's folder for the one write, so a folder moved
// while it writes never leaves its temporary behind.
Result<void, std::error_code> writeFileAtomically(
    const HeldFolder& folder, const std::string& name, std::string_view data,
    std::filesystem::perms permissions = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read | std::filesystem::perms::others_read);

// Writes all of `data` to `fd`, going on after a short or interrupted
// write. The failing call's errno, or nothing.
std::error_code writeAll(int fd, std::string_view data);

}  // namespace hollowkit
