#pragma once

// WiFiPasswordFile: the camera network's password for nmcli, in a 0600 file
// of our own ("hollowkit-wifi-" + random) in the per-user runtime folder,
// removed when the object goes. The file stays locked (flock) while it
// exists, so removeStale() can tell a file a crash left behind from one that
// another instance is using right now. Owner: the thread running the join.

#include <memory>
#include <string>

#include "hollowkit/base/unique_fd.h"

namespace hollowkit {

class WiFiPasswordFile {
public:
    static constexpr const char* kPrefix = "hollowkit-wifi-";

    WiFiPasswordFile(const WiFiPasswordFile&) = delete;
    WiFiPasswordFile& operator=(const WiFiPasswordFile&) = delete;
    ~WiFiPasswordFile();

    // $XDG_RUNTIME_DIR (a per-user tmpfs) when set to an absolute path,
    // else /tmp.
    static std::string defaultDirectory();

    // The file holding nmcli's line for `password` in `directory`; null
    // (logged) when it cannot be made.
    static std::unique_ptr<WiFiPasswordFile> create(const std::string& directory, const std::string& password);

    // Removes the files of our prefix in `directory` that belong to this
    // user and that nobody holds: left behind when the process died while
    // nmcli ran. Anything else there (other names, other users' files,
    // links, folders, files in use) is left alone. Returns how many went;
    // logs the count when any did.
    static int removeStale(const std::string& directory);

    const std::string& path() const { return path_; }

private:
    WiFiPasswordFile(std::string path, UniqueFd lock) : path_(std::move(path)), lock_(std::move(lock)) {}

    const std::string path_;
    UniqueFd lock_;
};

}  // namespace hollowkit
