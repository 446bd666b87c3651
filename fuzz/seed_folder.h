#pragma once

// The one argument of a seed writer: the folder its seeds go to, made when
// missing. Nothing (after a usage line) when the program was called wrong.

#include <cstdio>
#include <filesystem>
#include <optional>

inline std::optional<std::filesystem::path> seedFolder(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return std::nullopt;
    }
    std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    return folder;
}
