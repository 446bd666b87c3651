#pragma once

// Desktop: shows folders and files to the user in the desktop's file
// manager. The calls return at once; where nothing could be opened to show
// one (no file manager, nothing to start one), the handler set for it is
// told which folder went unshown, so the person can be told where it is.
//
// Any thread.

#include <filesystem>
#include <functional>

namespace lumenhollow {

class Desktop {
public:
    virtual ~Desktop() = default;

    // Called on the desktop's own thread with the folder (for a file, the
    // folder holding it) that nothing could be opened to show. Set before
    // the first request; empty: nobody is told.
    using NotShownHandler = std::function<void(const std::filesystem::path& folder)>;
    virtual void setNotShownHandler(NotShownHandler handler) = 0;

    // Opens `folder` in the file manager.
    virtual void openFolder(const std::filesystem::path& folder) = 0;
    // Opens the folder holding `file` with `file` selected (where the file
    // manager cannot select, the folder is opened).
    virtual void revealFile(const std::filesystem::path& file) = 0;
};

}  // namespace lumenhollow
