#pragma once

// fileUri: the "file://" URI of a local path, as file managers take them over
// D-Bus: every byte outside the URI's unreserved characters and "/" is
// percent-encoded (so spaces, "#", "?", "%" and UTF-8 survive). A relative
// path is made absolute against the current folder first.

#include <filesystem>
#include <string>

namespace lumenhollow {

std::string fileUri(const std::filesystem::path& path);

}  // namespace lumenhollow
