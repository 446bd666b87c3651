#pragma once

// Where the user's own directories are, as the environment says.

#include <filesystem>
#include <string>
#include <string_view>

namespace hollowkit {

// $HOME when set and non-empty, else the account's home from the password
// database; empty when neither says.
std::string homeDirectory();

// The base of the user's configuration: $XDG_CONFIG_HOME when it is an
// absolute path (a relative one is invalid and ignored), else `home`/.config.
std::filesystem::path configHome(const std::filesystem::path& home, std::string_view xdgConfigHome);

}  // namespace hollowkit
