// The user-dirs.dirs reader on arbitrary text, with a home folder and
// without one: a videos folder it finds is absolute and already in normal
// form, so the library never builds its output folder from "..".

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "hollowkit/recording/media_library.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using hollowkit::MediaLibrary;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::string_view home : {std::string_view("/home/ann"), std::string_view()}) {
        const auto videos = MediaLibrary::videosDirFromUserDirs(text, home);
        if (!videos) continue;
        if (!videos->is_absolute() || videos->lexically_normal() != *videos) std::abort();
        for (const auto& part : *videos) {
            if (part == "..") std::abort();
        }
    }
    return 0;
}
