#include "hollowkit/base/user_directories.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace hollowkit {

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir) {
        return found->pw_dir;
    }
    return {};
}

std::filesystem::path configHome(const std::filesystem::path& home, std::string_view xdgConfigHome) {
    return xdgConfigHome.starts_with('/') ? std::filesystem::path(xdgConfigHome) : home / ".config";
}

}  // namespace hollowkit
