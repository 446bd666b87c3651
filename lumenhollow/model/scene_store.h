#pragma once

// The stored forms of the saved camera positions and of the imported looks.
//
// "scenes" holds bytes: the compact UTF-8 JSON array of the scenes in list
// order, each {"id", "name", "position": {"pan", "tilt"[, "zoom"]}[,
// "thumbnail"]}, the id as an upper-case UUID and the thumbnail as Base64
// JPEG. Reading keeps every element it can use and leaves out only the
// others, so one damaged scene (a name that is not UTF-8, a number too
// large to read) never costs the rest; it stops at the model's limit, so a
// damaged or hostile list of thousands costs no more than nine scenes. When
// anything was left out, or the value has another shape, the list was read
// in part: the model keeps a whole copy of it (SettingsStore::keepCopy)
// before its first save replaces it, and while no copy can be kept it
// leaves the stored list as it is. Earlier versions kept such copies inside
// the settings under "scenes.unreadable", "scenes.unreadable.2" ...; those
// keys are still kept as they are.
//
// "customLUTPaths" holds the imported looks' file paths in list order; a
// value of another shape, or paths past the number tried, make it read in
// part too.
//
// Pure functions apart from the settings and look files they are given;
// reading never writes. Any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/result.h"
#include "hollowkit/imaging/color_lut.h"
#include "lumenhollow/model/camera_scene.h"
#include "lumenhollow/model/look_list.h"
#include "lumenhollow/platform/secure_random.h"
#include "lumenhollow/platform/settings_store.h"

namespace lumenhollow {

namespace settings_key {
inline constexpr std::string_view scenes = "scenes";
inline constexpr std::string_view customLUTPaths = "customLUTPaths";
}  // namespace settings_key

struct SceneDecoding {
    std::vector<CameraScene> scenes;
    // Elements in the stored list, read or not.
    size_t stored = 0;
    // Elements not looked at because `limit` scenes were read before them.
    size_t pastLimit = 0;
    // What was left out or only partly read, one line each ("scene 2: no
    // \"name\""); empty when everything was read.
    std::vector<std::string> problems;
};

// The JSON text of "scenes". The error (not JSON, not an array) means no
// element could be read at all. An element is left out when its id is not
// a UUID or repeats an earlier one, its name is not text, or its position
// lacks finite "pan" and "tilt" or has a "zoom" that is not a whole number,
// or any of its text is not UTF-8 or any number too large for a double; a
// thumbnail that is not Base64 is dropped and the scene kept. Reading stops
// once `limit` scenes were read; the elements after them count as past it.
hollowkit::Result<SceneDecoding, std::string> decodeScenes(std::string_view json,
                                                           size_t limit = SIZE_MAX);

// The bytes to store; nothing when a position's angle is not finite.
std::optional<hollowkit::Bytes> encodeScenes(const std::vector<CameraScene>& scenes);

struct LoadedScenes {
    std::vector<CameraScene> scenes;
    // Something is stored under "scenes" that did not read whole (logged):
    // a value of another shape, one that is not a list, or a list with
    // scenes left out or past `limit`.
    bool readInPart = false;
};

// At most `limit` scenes, the first that read. Logs one line when anything
// was left out, however many scenes were.
LoadedScenes loadScenes(const SettingsStore& settings, size_t limit);
// Why a list that cannot be encoded is not saved.
inline constexpr std::string_view kUnencodableScenes = "a position is not a finite number";
// Writes "scenes"; when the list cannot be encoded, writes nothing and
// reports it not saved (kUnencodableScenes), which is logged.
SettingsSaveResult saveScenes(SettingsStore& settings, const std::vector<CameraScene>& scenes);

// A new random (version 4) UUID in its canonical upper-case text.
std::string makeSceneId(SecureRandom& random);
// `text` as a canonical upper-case UUID when it is one in either case.
std::optional<std::string> canonicalSceneId(std::string_view text);

// The paths of "customLUTPaths" tried at start: the first
// LookListLimits::maxPathsTried, in list order; `stored` counts them all.
struct StoredLookPaths {
    std::vector<std::string> tried = {};
    size_t stored = 0;
    // Something is stored under "customLUTPaths" that is not a list of
    // texts (logged), or the list holds more paths than are tried.
    bool readInPart = false;
};
StoredLookPaths storedLookPaths(const SettingsStore& settings, const LookListLimits& limits = {});

// What reading the stored looks left out, told in one log line however
// many paths were stored.
struct StoredLooksReport {
    size_t stored = 0;  // paths stored
    size_t tried = 0;   // of those, tried
    size_t failed = 0;  // of those tried
    std::optional<LookLoadFailure> firstFailure = {};

    void add(const LookLoadFailure& failure);
    // "Looks: 3 of 300 stored looks not loaded; 1 failed, the first …; 44
    // after the first 256 not tried"; nothing when every one loaded.
    std::optional<std::string> logLine() const;
};

// The looks of "customLUTPaths" that load, in order, all at once; a path
// whose file is gone or unreadable, or that repeats, is left out (logged in
// one line, not reported).
std::vector<hollowkit::ColorLUT> loadCustomLUTs(const SettingsStore& settings);
// Writes the looks' paths in list order, then `stillLoading`: stored paths
// not read yet, which a change made meanwhile must not drop.
SettingsSaveResult saveCustomLUTPaths(SettingsStore& settings, const std::vector<hollowkit::ColorLUT>& looks,
                                      const std::vector<std::string>& stillLoading = {});

}  // namespace lumenhollow
