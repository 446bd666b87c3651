#include "lumenhollow/model/look_list.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace lumenhollow {

namespace fs = std::filesystem;
namespace hk = hollowkit;

std::optional<std::string> lookIdentity(std::string_view path) {
    if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
    const fs::path given{std::string(path)};
    std::error_code error;
    // The file may be gone (a drive not mounted yet); its spelling made
    // plain still tells "./a.cube" and "a.cube" apart from other files.
    if (fs::path real = fs::weakly_canonical(given, error); !error) return real.string();
    fs::path absolute = fs::absolute(given, error);
    if (error) absolute = given;
    return absolute.lexically_normal().string();
}

int64_t lookTableBytes(const hk::ColorLUT& look) {
    return static_cast<int64_t>(look.rgba.size() * sizeof(float));
}

LookLoadOutcome loadLooks(const std::vector<std::string>& paths, const std::vector<hk::ColorLUT>& existing,
                          const LookListLimits& limits) {
    LookLoadOutcome outcome;
    std::vector<std::string> held;
    int64_t tableBytes = 0;
    for (const hk::ColorLUT& look : existing) {
        if (auto identity = lookIdentity(look.id)) held.push_back(std::move(*identity));
        tableBytes += lookTableBytes(look);
    }
    size_t count = existing.size();

    for (const std::string& path : paths) {
        const auto identity = lookIdentity(path);
        if (!identity) {
            outcome.failures.push_back(
                {path, hk::ColorLUT::LoadError::refusedFile("has a NUL character in its path").userMessage()});
            continue;
        }
        if (std::find(held.begin(), held.end(), *identity) != held.end()) continue;
        if (count >= limits.maxLooks) {
            char text[96];
            std::snprintf(text, sizeof text, "At most %zu imported looks are kept: remove one to import another",
                          limits.maxLooks);
            outcome.failures.push_back({path, text});
            continue;
        }
        auto look = hk::ColorLUT::load(path);
        if (!look) {
            outcome.failures.push_back({path, look.error().userMessage()});
            continue;
        }
        const int64_t bytes = lookTableBytes(*look);
        if (tableBytes + bytes > limits.maxTableBytes) {
            char text[128];
            std::snprintf(text, sizeof text,
                          "The imported looks would take more than %lld MB of memory: remove one to import this one",
                          static_cast<long long>(limits.maxTableBytes >> 20));
            outcome.failures.push_back({path, text});
            continue;
        }
        held.push_back(*identity);
        tableBytes += bytes;
        ++count;
        outcome.added.push_back(std::move(look).value());
    }
    return outcome;
}

}  // namespace lumenhollow
