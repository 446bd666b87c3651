#include "hollowkit/recording/frame_size_change.h"

#include <cerrno>
#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "hollowkit/base/atomic_file.h"
#include "hollowkit/base/bounded_file.h"
#include "hollowkit/base/pocket_log.h"

namespace hollowkit {
namespace {

// A JSON integer that fits an int; 12.5 or 1e20 is not one.
std::optional<int> intValue(const nlohmann::json& value) {
    if (!value.is_number_integer()) return std::nullopt;
    if (value.is_number_unsigned()) {
        const auto v = value.get<uint64_t>();
        if (v > static_cast<uint64_t>(std::numeric_limits<int>::max())) return std::nullopt;
        return static_cast<int>(v);
    }
    const auto v = value.get<int64_t>();
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(v);
}

}  // namespace

std::string FrameSizeChange::encodeAll(std::span<const FrameSizeChange> changes) {
    auto array = nlohmann::ordered_json::array();
    for (const auto& change : changes) {
        nlohmann::ordered_json object;
        object["time"] = change.time;
        object["width"] = change.width;
        object["height"] = change.height;
        array.push_back(std::move(object));
    }
    return array.dump();
}

std::optional<std::vector<FrameSizeChange>> FrameSizeChange::decodeAll(std::string_view json) {
    const auto document = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (!document.is_array()) return std::nullopt;
    std::vector<FrameSizeChange> changes;
    changes.reserve(document.size());
    for (const auto& entry : document) {
        if (!entry.is_object()) return std::nullopt;
        const auto time = entry.find("time");
        const auto width = entry.find("width");
        const auto height = entry.find("height");
        if (time == entry.end() || width == entry.end() || height == entry.end()) {
            return std::nullopt;
        }
        if (!time->is_number()) return std::nullopt;
        const auto w = intValue(*width);
        const auto h = intValue(*height);
        if (!w || !h) return std::nullopt;
        const double seconds = time->get<double>();
        if (!std::isfinite(seconds)) return std::nullopt;
        changes.push_back(FrameSizeChange{seconds, *w, *h});
    }
    return changes;
}

Result<void, std::string> FrameSizeChange::writeAll(std::span<const FrameSizeChange> changes,
                                                    const std::filesystem::path& file) {
    if (auto written = writeFileAtomically(file, encodeAll(changes)); !written) {
        return unexpected(file.filename().string() + ": " + written.error().message());
    }
    return {};
}

Result<void, std::string> FrameSizeChange::writeAll(std::span<const FrameSizeChange> changes,
                                                    const HeldFolder& folder, const std::string& name) {
    if (auto written = writeFileAtomically(folder, name, encodeAll(changes)); !written) {
        return unexpected(name + ": " + written.error().message());
    }
    return {};
}

std::optional<std::vector<FrameSizeChange>> FrameSizeChange::loadAll(
    const std::filesystem::path& file) {
    auto text = readBoundedText(file, kMaxFileBytes);
    if (!text) {
        // A missing file is the usual case (the picture never turned).
        if (text.error().kind != FileReadError::Kind::cannotOpen || text.error().errorNumber != ENOENT) {
            PocketLog::logf("Frame sizes: %s", text.error().userMessage().c_str());
        }
        return std::nullopt;
    }
    return decodeAll(*text);
}

bool hasMixedOrientation(std::span<const FrameSizeChange> changes) {
    if (changes.empty()) return false;
    const bool firstLandscape = changes.front().isLandscape();
    for (const auto& change : changes) {
        if (change.isLandscape() != firstLandscape) return true;
    }
    return false;
}

}  // namespace hollowkit
