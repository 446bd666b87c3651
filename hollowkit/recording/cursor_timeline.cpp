#include "hollowkit/recording/cursor_timeline.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <nlohmann/json.hpp>

#include "hollowkit/base/atomic_file.h"
#include "hollowkit/base/bounded_file.h"

namespace hollowkit {
namespace {

// Two samples taken at the same time do not divide by zero.
constexpr double kMinimumGapSeconds = 0.0001;

std::optional<double> numberAt(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number()) return std::nullopt;
    const double value = found->get<double>();
    // "1e999" parses to infinity; no encoder writes that.
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<bool> boolAt(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_boolean()) return std::nullopt;
    return found->get<bool>();
}

std::string entryError(size_t index, const char* key, const char* type) {
    return "Cursor timeline: sample " + std::to_string(index) + " has no " + type + " \"" + key + "\"";
}

}  // namespace

CursorTimeline CursorTimeline::shifted(double offset) const {
    CursorTimeline copy = *this;
    for (auto& sample : copy.samples) sample.time -= offset;
    for (auto& time : copy.keyPresses) time -= offset;
    return copy;
}

std::vector<CursorSample> CursorTimeline::pressOnsets() const {
    std::vector<CursorSample> onsets;
    bool previous = false;
    for (const auto& sample : samples) {
        if (sample.pressed && !previous) onsets.push_back(sample);
        previous = sample.pressed;
    }
    return onsets;
}

std::optional<CursorPoint> CursorTimeline::position(double time) const {
    if (samples.empty() || std::isnan(time)) return std::nullopt;
    if (time <= samples.front().time) return CursorPoint{samples.front().x, samples.front().y};
    // The last sample at or before `time`.
    size_t lo = 0;
    size_t hi = samples.size() - 1;
    while (lo < hi) {
        const size_t mid = (lo + hi + 1) / 2;
        if (samples[mid].time <= time) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    const CursorSample& a = samples[lo];
    if (lo + 1 == samples.size()) return CursorPoint{a.x, a.y};
    const CursorSample& b = samples[lo + 1];
    const double f = (time - a.time) / std::max(kMinimumGapSeconds, b.time - a.time);
    return CursorPoint{a.x + f * (b.x - a.x), a.y + f * (b.y - a.y)};
}

Result<std::string, std::string> CursorTimeline::encode() const {
    auto sampleArray = nlohmann::ordered_json::array();
    for (const auto& sample : samples) {
        if (!std::isfinite(sample.time) || !std::isfinite(sample.x) || !std::isfinite(sample.y)) {
            return unexpected(std::string("Cursor timeline: a sample is not a finite number"));
        }
        nlohmann::ordered_json object;
        object["time"] = sample.time;
        object["x"] = sample.x;
        object["y"] = sample.y;
        object["pressed"] = sample.pressed;
        object["overApp"] = sample.overApp;
        sampleArray.push_back(std::move(object));
    }
    auto keyArray = nlohmann::ordered_json::array();
    for (double time : keyPresses) {
        if (!std::isfinite(time)) {
            return unexpected(std::string("Cursor timeline: a key time is not a finite number"));
        }
        keyArray.push_back(time);
    }
    nlohmann::ordered_json document;
    document["samples"] = std::move(sampleArray);
    document["keyPresses"] = std::move(keyArray);
    return document.dump();
}

Result<CursorTimeline, std::string> CursorTimeline::decode(std::string_view json) {
    const auto document = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded()) return unexpected(std::string("Cursor timeline: not valid JSON"));
    if (!document.is_object()) return unexpected(std::string("Cursor timeline: not a JSON object"));
    const auto samples = document.find("samples");
    if (samples == document.end() || !samples->is_array()) {
        return unexpected(std::string("Cursor timeline: no \"samples\" array"));
    }
    const auto keys = document.find("keyPresses");
    if (keys == document.end() || !keys->is_array()) {
        return unexpected(std::string("Cursor timeline: no \"keyPresses\" array"));
    }

    CursorTimeline timeline;
    timeline.samples.reserve(samples->size());
    size_t index = 0;
    for (const auto& entry : *samples) {
        if (!entry.is_object()) {
            return unexpected("Cursor timeline: sample " + std::to_string(index) + " is not an object");
        }
        const auto time = numberAt(entry, "time");
        if (!time) return unexpected(entryError(index, "time", "number"));
        const auto x = numberAt(entry, "x");
        if (!x) return unexpected(entryError(index, "x", "number"));
        const auto y = numberAt(entry, "y");
        if (!y) return unexpected(entryError(index, "y", "number"));
        const auto pressed = boolAt(entry, "pressed");
        if (!pressed) return unexpected(entryError(index, "pressed", "Boolean"));
        const auto overApp = boolAt(entry, "overApp");
        if (!overApp) return unexpected(entryError(index, "overApp", "Boolean"));
        timeline.samples.push_back(CursorSample{*time, *x, *y, *pressed, *overApp});
        ++index;
    }
    timeline.keyPresses.reserve(keys->size());
    for (const auto& entry : *keys) {
        if (!entry.is_number() || !std::isfinite(entry.get<double>())) {
            return unexpected(std::string("Cursor timeline: a key time is not a number"));
        }
        timeline.keyPresses.push_back(entry.get<double>());
    }
    return timeline;
}

Result<void, std::string> CursorTimeline::write(const std::filesystem::path& file) const {
    auto text = encode();
    if (!text) return unexpected(text.error());
    if (auto written = writeFileAtomically(file, text.value()); !written) {
        return unexpected(file.filename().string() + ": " + written.error().message());
    }
    return {};
}

Result<void, std::string> CursorTimeline::write(const HeldFolder& folder, const std::string& name) const {
    auto text = encode();
    if (!text) return unexpected(text.error());
    if (auto written = writeFileAtomically(folder, name, text.value()); !written) {
        return unexpected(name + ": " + written.error().message());
    }
    return {};
}

Result<CursorTimeline, std::string> CursorTimeline::load(const std::filesystem::path& file) {
    auto text = readBoundedText(file, kMaxFileBytes);
    if (!text) return unexpected(text.error().userMessage());
    return decode(*text);
}

}  // namespace hollowkit
