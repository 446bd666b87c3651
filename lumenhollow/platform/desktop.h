#pragma once

// Desktop: shows folders and files to the user in the desktop's file
// manager. Fire and forget: the calls return at once; a file manager that
// cannot be reached is logged, never reported, like the rest of the
// desktop's own business.
//
// Any thread.

#include <filesystem>

namespace lumenhollow {

class Desktop {
public:
    virtual ~Desktop() = default;

    // Opens `folder` in the file manager.
    virtual void openFolder(const std::filesystem::path& folder) = 0;
    // Opens the folder holding `file` with `file` selected (where the file
    // manager cannot select, the folder is opened).
    virtual void revealFile(const std::filesystem::path& file) = 0;
};

}  // namespace lumenhollow
