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

void LookLedger::hold(const hk::ColorLUT& look) {
    const auto identity = lookIdentity(look.id);
    const int64_t bytes = lookTableBytes(look);
    held_.push_back({look.id, identity.value_or(look.id), bytes});
    tableBytes_ += bytes;
}

void LookLedger::release(std::string_view id) {
    const auto found = std::find_if(held_.begin(), held_.end(), [&](const Held& each) { return each.id == id; });
    if (found == held_.end()) return;
    tableBytes_ -= found->tableBytes;
    held_.erase(found);
}

LookAttempt LookLedger::tryLoad(const std::string& path, const hk::StopFlag* stop) {
    const auto identity = lookIdentity(path);
    if (!identity) {
        return {.failure = LookLoadFailure{
                    path, hk::ColorLUT::LoadError::refusedFile("has a NUL character in its path").userMessage()}};
    }
    if (std::any_of(held_.begin(), held_.end(), [&](const Held& each) { return each.identity == *identity; })) {
        return {};
    }
    if (held_.size() >= limits_.maxLooks) {
        char text[96];
        std::snprintf(text, sizeof text, "At most %zu imported looks are kept: remove one to import another",
                      limits_.maxLooks);
        return {.failure = LookLoadFailure{path, text}};
    }
    // The table may take what the list has left; a file asking for more is
    // refused at its size line.
    hk::ColorLUT::LoadOptions options;
    options.maxTableBytes = std::max<int64_t>(limits_.maxTableBytes - tableBytes_, 0);
    options.stop = stop;
    auto look = hk::ColorLUT::load(path, options);
    if (!look) {
        using Kind = hk::ColorLUT::LoadError::Kind;
        if (look.error().kind == Kind::stopped) return {};
        if (look.error().kind == Kind::overBudget) {
            char text[128];
            std::snprintf(text, sizeof text,
                          "The imported looks would take more than %lld MB of memory: remove one to import this one",
                          static_cast<long long>(limits_.maxTableBytes >> 20));
            return {.failure = LookLoadFailure{path, text}};
        }
        return {.failure = LookLoadFailure{path, look.error().userMessage()}};
    }
    const int64_t bytes = lookTableBytes(*look);
    held_.push_back({path, *identity, bytes});
    tableBytes_ += bytes;
    return {.look = std::move(look).value()};
}

LookLoadOutcome loadLooks(const std::vector<std::string>& paths, const std::vector<hk::ColorLUT>& existing,
                          const LookListLimits& limits) {
    LookLoadOutcome outcome;
    LookLedger ledger(limits);
    for (const hk::ColorLUT& look : existing) ledger.hold(look);
    for (const std::string& path : paths) {
        LookAttempt attempt = ledger.tryLoad(path);
        if (attempt.look) outcome.added.push_back(std::move(*attempt.look));
        if (attempt.failure) outcome.failures.push_back(std::move(*attempt.failure));
    }
    return outcome;
}

}  // namespace lumenhollow
