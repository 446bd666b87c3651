#include "lumenhollow/model/scene_store.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>

#include "hollowkit/base/pocket_log.h"
#include "lumenhollow/model/look_list.h"
#include "lumenhollow/platform/base64.h"
#include "lumenhollow/platform/json_repair.h"

namespace lumenhollow {

namespace {

using hollowkit::PocketLog;
using nlohmann::json;

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Problems named in the one log line of a load; the rest are counted.
constexpr size_t kLoggedProblems = 3;

std::string problem(size_t index, std::string_view what) {
    return "scene " + std::to_string(index + 1) + ": " + std::string(what);
}

// The position through CameraPosition's own reading, given only the members
// it reads, so a deep value elsewhere in the object is never walked.
std::optional<hollowkit::CameraPosition> readPosition(const json& object) {
    if (!object.is_object()) return std::nullopt;
    const auto pan = object.find("pan");
    const auto tilt = object.find("tilt");
    if (pan == object.end() || tilt == object.end() || !pan->is_number() || !tilt->is_number()) {
        return std::nullopt;
    }
    json shallow{{"pan", *pan}, {"tilt", *tilt}};
    if (const auto zoom = object.find("zoom"); zoom != object.end() && !zoom->is_null()) {
        if (!zoom->is_number()) return std::nullopt;
        shallow["zoom"] = *zoom;
    }
    std::optional<hollowkit::CameraPosition> position = hollowkit::CameraPosition::fromJson(shallow.dump());
    // The parser refuses numbers beyond a double; this keeps that promise here too.
    if (position && (!std::isfinite(position->pan) || !std::isfinite(position->tilt))) return std::nullopt;
    return position;
}

// One element; nothing when it cannot be used (the reason in `problems`).
std::optional<CameraScene> readScene(const json& element, size_t index, std::set<std::string>& ids,
                                     std::vector<std::string>& problems) {
    if (!element.is_object()) {
        problems.push_back(problem(index, "not an object"));
        return std::nullopt;
    }
    CameraScene scene;
    const auto id = element.find("id");
    std::optional<std::string> canonical;
    if (id != element.end() && id->is_string()) canonical = canonicalSceneId(id->get_ref<const std::string&>());
    if (!canonical) {
        problems.push_back(problem(index, "no \"id\" holding a UUID"));
        return std::nullopt;
    }
    if (!ids.insert(*canonical).second) {
        problems.push_back(problem(index, "the \"id\" of an earlier scene"));
        return std::nullopt;
    }
    scene.id = std::move(*canonical);

    const auto name = element.find("name");
    if (name == element.end() || !name->is_string()) {
        problems.push_back(problem(index, "no \"name\" text"));
        return std::nullopt;
    }
    scene.name = name->get<std::string>();

    const auto position = element.find("position");
    std::optional<hollowkit::CameraPosition> read =
        position == element.end() ? std::nullopt : readPosition(*position);
    if (!read) {
        problems.push_back(problem(index, "no \"position\" with finite \"pan\" and \"tilt\" and a whole \"zoom\""));
        return std::nullopt;
    }
    scene.position = *read;

    if (const auto thumbnail = element.find("thumbnail"); thumbnail != element.end() && !thumbnail->is_null()) {
        std::optional<hollowkit::Bytes> bytes;
        if (thumbnail->is_string()) bytes = base64Decode(thumbnail->get_ref<const std::string&>());
        if (bytes) {
            scene.thumbnail = std::move(*bytes);
        } else {
            // The position is what matters; the picture comes back at the next update.
            problems.push_back(problem(index, "\"thumbnail\" is not Base64; kept without it"));
        }
    }
    return scene;
}

}  // namespace

hollowkit::Result<SceneDecoding, std::string> decodeScenes(std::string_view text, size_t limit) {
    // Bad text or an unreadable number would otherwise fail the whole list;
    // repaired, they mark only the scene that holds them.
    const JsonRepair repaired = repairJson(text, /*repairTexts=*/true);
    json document;
    try {
        document = json::parse(repaired.text, nullptr, /*allow_exceptions=*/false);
    } catch (const std::exception&) {
        return hollowkit::unexpected(std::string("too large to read"));  // allocation failures only
    }
    if (document.is_discarded()) return hollowkit::unexpected(std::string("not JSON"));
    if (!document.is_array()) return hollowkit::unexpected(std::string("not a JSON array"));

    SceneDecoding decoding;
    decoding.stored = document.size();
    std::set<std::string> ids;
    auto flaw = repaired.flaws.begin();
    for (size_t index = 0; index < document.size(); ++index) {
        if (decoding.scenes.size() >= limit) {
            decoding.pastLimit = document.size() - index;
            break;
        }
        bool damaged = false;
        for (; flaw != repaired.flaws.end() && flaw->member == index; ++flaw) {
            if (!damaged) {
                decoding.problems.push_back(problem(index, flaw->kind == JsonRepair::Kind::badText
                                                               ? "text that is not UTF-8 or holds control characters"
                                                               : "a number too large to read"));
            }
            damaged = true;
        }
        if (damaged) continue;
        if (std::optional<CameraScene> scene = readScene(document[index], index, ids, decoding.problems)) {
            decoding.scenes.push_back(std::move(*scene));
        }
    }
    return decoding;
}

std::optional<hollowkit::Bytes> encodeScenes(const std::vector<CameraScene>& scenes) {
    json array = json::array();
    for (const CameraScene& scene : scenes) {
        const std::optional<std::string> position = scene.position.toJson();
        if (!position) return std::nullopt;
        json object{{"id", scene.id}, {"name", scene.name}, {"position", json::parse(*position)}};
        if (scene.thumbnail) object["thumbnail"] = base64Encode(*scene.thumbnail);
        array.push_back(std::move(object));
    }
    // Names come from the user; text that is not UTF-8 is stored with U+FFFD
    // rather than losing the whole list.
    const std::string text = array.dump(-1, ' ', false, json::error_handler_t::replace);
    return hollowkit::Bytes(text.begin(), text.end());
}

LoadedScenes loadScenes(const SettingsStore& settings, size_t limit) {
    LoadedScenes loaded;
    std::optional<SettingsValue> stored = settings.value(settings_key::scenes);
    if (!stored) {
        // A value of a shape the store cannot type (a list written by hand,
        // data that is not Base64) is there all the same.
        if (settings.contains(settings_key::scenes)) {
            PocketLog::log("Scenes: the stored value has a shape this version cannot read; starting with no scenes");
            loaded.readInPart = true;
        }
        return loaded;
    }
    const hollowkit::Bytes* bytes = std::get_if<hollowkit::Bytes>(&*stored);
    if (!bytes) {
        PocketLog::log("Scenes: the stored value is not data; starting with no scenes");
        loaded.readInPart = true;
        return loaded;
    }
    auto decoded =
        decodeScenes(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), limit);
    if (!decoded) {
        PocketLog::logf("Scenes: the stored list is %s; starting with no scenes", decoded.error().c_str());
        loaded.readInPart = true;
        return loaded;
    }
    if (!decoded->problems.empty() || decoded->pastLimit > 0) {
        // One line however many there are: a list of a hundred thousand bad
        // entries must not flood the log.
        std::string named;
        for (size_t i = 0; i < decoded->problems.size() && i < kLoggedProblems; ++i) {
            named += (i == 0 ? "" : "; ") + decoded->problems[i];
        }
        if (decoded->problems.size() > kLoggedProblems) {
            named += "; and " + std::to_string(decoded->problems.size() - kLoggedProblems) + " more";
        }
        if (decoded->pastLimit > 0) {
            named += (named.empty() ? "" : "; ") + std::to_string(decoded->pastLimit) + " past the limit of " +
                     std::to_string(limit) + " not read";
        }
        PocketLog::logf("Scenes: read %zu of %zu stored scenes (%s)", decoded->scenes.size(), decoded->stored,
                        named.c_str());
        loaded.readInPart = true;
    }
    loaded.scenes = std::move(decoded->scenes);
    return loaded;
}

SettingsSaveResult saveScenes(SettingsStore& settings, const std::vector<CameraScene>& scenes) {
    std::optional<hollowkit::Bytes> bytes = encodeScenes(scenes);
    if (!bytes) {
        PocketLog::log("Scenes: a position is not a finite number; the list was not saved");
        return {std::string(kUnencodableScenes)};
    }
    return settings.set(settings_key::scenes, std::move(*bytes));
}

std::string makeSceneId(SecureRandom& random) {
    hollowkit::Bytes bytes = random.bytes(16);
    bytes.resize(16);
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    std::string text;
    text.reserve(36);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(kHexDigits[bytes[i] >> 4]);
        text.push_back(kHexDigits[bytes[i] & 0x0F]);
    }
    return text;
}

std::optional<std::string> canonicalSceneId(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::string canonical(text);
    for (size_t i = 0; i < canonical.size(); ++i) {
        char& c = canonical[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return std::nullopt;
        } else if (c >= 'a' && c <= 'f') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return std::nullopt;
        }
    }
    return canonical;
}

StoredLookPaths storedLookPaths(const SettingsStore& settings, const LookListLimits& limits) {
    std::optional<StringArray> list = settings.get<StringArray>(settings_key::customLUTPaths);
    if (!list) {
        if (!settings.contains(settings_key::customLUTPaths)) return {};
        PocketLog::log("Looks: the stored list of looks is not a list of paths; starting with none");
        return {.readInPart = true};
    }
    StringArray paths = std::move(*list);
    StoredLookPaths stored{.stored = paths.size(), .readInPart = paths.size() > limits.maxPathsTried};
    if (paths.size() > limits.maxPathsTried) paths.resize(limits.maxPathsTried);
    stored.tried = std::move(paths);
    return stored;
}

void StoredLooksReport::add(const LookLoadFailure& failure) {
    ++failed;
    if (!firstFailure) firstFailure = failure;
}

std::optional<std::string> StoredLooksReport::logLine() const {
    const size_t notTried = stored > tried ? stored - tried : 0;
    if (failed == 0 && notTried == 0) return std::nullopt;
    // Often a drive not mounted yet: the paths stay stored for the next
    // launch. Written whole: the log escapes a NUL in a path rather than
    // ending there.
    std::string line = "Looks: " + std::to_string(failed + notTried) + " of " + std::to_string(stored) +
                       " stored looks not loaded";
    if (firstFailure) {
        line += failed == 1 ? std::string("; ") : "; " + std::to_string(failed) + " failed, the first ";
        line += firstFailure->path + ": " + firstFailure->message;
    }
    if (notTried > 0) {
        line += "; " + std::to_string(notTried) + " after the first " + std::to_string(tried) + " not tried";
    }
    return line;
}

std::vector<hollowkit::ColorLUT> loadCustomLUTs(const SettingsStore& settings) {
    StoredLookPaths paths = storedLookPaths(settings);
    StoredLooksReport report{.stored = paths.stored, .tried = paths.tried.size()};
    auto outcome = loadLooks(paths.tried, {});
    for (const LookLoadFailure& failure : outcome.failures) report.add(failure);
    if (const auto line = report.logLine()) PocketLog::log(*line);
    return std::move(outcome.added);
}

SettingsSaveResult saveCustomLUTPaths(SettingsStore& settings, const std::vector<hollowkit::ColorLUT>& looks,
                                      const std::vector<std::string>& stillLoading) {
    StringArray paths;
    paths.reserve(looks.size() + stillLoading.size());
    for (const hollowkit::ColorLUT& look : looks) paths.push_back(look.id);
    paths.insert(paths.end(), stillLoading.begin(), stillLoading.end());
    return settings.set(settings_key::customLUTPaths, std::move(paths));
}

}  // namespace lumenhollow
