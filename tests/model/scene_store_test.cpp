#include "lumenhollow/model/scene_store.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hollowkit/testing/test_support.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/platform/base64.h"
#include "lumenhollow/platform/json_settings_store.h"
#include "lumenhollow/testing/fake_secure_random.h"
#include "lumenhollow/testing/memory_settings_store.h"

namespace lumenhollow::test {
namespace {

namespace hk = hollowkit;
using nlohmann::json;

const std::string kId = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";

std::string element(const std::string& id, const std::string& rest) {
    return R"({"id":")" + id + R"(",)" + rest + "}";
}

std::string textOf(const hk::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(SceneStoreTest, EachElementIsReadOrLeftOutOnItsOwn) {
    struct Case {
        const char* name;
        std::string element;
        std::optional<CameraScene> read;  // nothing: left out
        bool problem;
    };
    const std::string pos = R"("position":{"pan":-12.5,"tilt":4})";
    const hk::CameraPosition at{-12.5, 4, std::nullopt};
    const std::vector<Case> cases{
        {"everything", element(kId, R"("name":"Desk","position":{"pan":-12.5,"tilt":4,"zoom":150},"thumbnail":"/9j/4AAQ")"),
         CameraScene{kId, "Desk", {-12.5, 4, 150}, hk::Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10}}, false},
        {"no zoom, no thumbnail", element(kId, R"("name":"Desk",)" + pos), CameraScene{kId, "Desk", at, {}}, false},
        {"null zoom and thumbnail", element(kId, R"("name":"D","position":{"pan":-12.5,"tilt":4,"zoom":null},"thumbnail":null)"),
         CameraScene{kId, "D", at, {}}, false},
        {"a whole zoom written as a fraction", element(kId, R"("name":"D","position":{"pan":1,"tilt":2,"zoom":150.0})"),
         CameraScene{kId, "D", {1, 2, 150}, {}}, false},
        {"lower-case id is made canonical", element("3f2504e0-4f89-41d3-9a0c-0305e82c3301", R"("name":"D",)" + pos),
         CameraScene{kId, "D", at, {}}, false},
        {"other keys ignored", element(kId, R"("name":"D","extra":[1,{"a":2}],"position":{"pan":-12.5,"tilt":4,"roll":9})"),
         CameraScene{kId, "D", at, {}}, false},
        {"thumbnail not Base64 keeps the scene", element(kId, R"("name":"D","thumbnail":"*not*",)" + pos),
         CameraScene{kId, "D", at, {}}, true},
        {"thumbnail a number keeps the scene", element(kId, R"("name":"D","thumbnail":5,)" + pos),
         CameraScene{kId, "D", at, {}}, true},
        {"no name", element(kId, pos), std::nullopt, true},
        {"name a number", element(kId, R"("name":5,)" + pos), std::nullopt, true},
        {"no id", R"({"name":"D",)" + pos + "}", std::nullopt, true},
        {"id not a UUID", element("3F2504E0-4F89-41D3-9A0C-0305E82C330", R"("name":"D",)" + pos), std::nullopt, true},
        {"id with a brace", element("{F2504E0-4F89-41D3-9A0C-0305E82C3301", R"("name":"D",)" + pos), std::nullopt, true},
        {"no position", element(kId, R"("name":"D")"), std::nullopt, true},
        {"no tilt", element(kId, R"("name":"D","position":{"pan":1})"), std::nullopt, true},
        {"pan as text", element(kId, R"("name":"D","position":{"pan":"1","tilt":2})"), std::nullopt, true},
        {"pan null", element(kId, R"("name":"D","position":{"pan":null,"tilt":2})"), std::nullopt, true},
        {"fractional zoom", element(kId, R"("name":"D","position":{"pan":1,"tilt":2,"zoom":1.5})"), std::nullopt, true},
        {"zoom as text", element(kId, R"("name":"D","position":{"pan":1,"tilt":2,"zoom":"150"})"), std::nullopt, true},
        {"zoom beyond int", element(kId, R"("name":"D","position":{"pan":1,"tilt":2,"zoom":4294967296})"), std::nullopt,
         true},
        {"position an array", element(kId, R"("name":"D","position":[1,2])"), std::nullopt, true},
        {"not an object", "[1,2]", std::nullopt, true},
        {"name not UTF-8", element(kId, "\"name\":\"Caf\xe9\"," + pos), std::nullopt, true},
        {"name with a raw line break", element(kId, "\"name\":\"Desk\nleft\"," + pos), std::nullopt, true},
        {"an ignored key not UTF-8", element(kId, "\"name\":\"D\",\"note\":\"\xff\"," + pos), std::nullopt, true},
        {"pan too large for a double", element(kId, R"("name":"D","position":{"pan":1e400,"tilt":2})"), std::nullopt,
         true},
        {"tilt of a thousand digits", element(kId, R"("name":"D","position":{"pan":1,"tilt":)" + std::string(1000, '9') + "}"),
         std::nullopt, true},
        {"zoom too large for a double", element(kId, R"("name":"D","position":{"pan":1,"tilt":2,"zoom":-1e999})"),
         std::nullopt, true},
        {"a tiny pan reads as zero", element(kId, R"("name":"D","position":{"pan":1e-400,"tilt":4})"),
         CameraScene{kId, "D", {0, 4, std::nullopt}, {}}, false},
    };
    const std::string before = element("00000000-0000-4000-8000-000000000001", R"("name":"Before","position":{"pan":0,"tilt":0})");
    const std::string after = element("00000000-0000-4000-8000-000000000002", R"("name":"After","position":{"pan":5,"tilt":5})");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto decoded = decodeScenes("[" + before + "," + c.element + "," + after + "]");
        ASSERT_TRUE(decoded.has_value());
        std::vector<std::string> names;
        for (const CameraScene& scene : decoded->scenes) names.push_back(scene.name);
        if (c.read) {
            ASSERT_EQ(decoded->scenes.size(), 3u);
            EXPECT_EQ(decoded->scenes[1], *c.read);
        } else {
            EXPECT_EQ(names, (std::vector<std::string>{"Before", "After"}));
        }
        EXPECT_EQ(decoded->problems.size(), c.problem ? 1u : 0u);
        if (c.problem) {
            EXPECT_EQ(decoded->problems.front().rfind("scene 2: ", 0), 0u) << decoded->problems.front();
        }
    }
}

TEST(SceneStoreTest, AHundredThousandBadScenesMakeOneShortLogLine) {
    std::string text = "[" + element(kId, R"("name":"Kept","position":{"pan":1,"tilt":2})");
    for (int i = 0; i < 100'000; ++i) text += ",{}";
    text += "," + element(kId, "\"name\":\"\xc0\"") + "]";
    MemorySettingsStore settings({{"scenes", hk::Bytes(text.begin(), text.end())}});

    hk::testsupport::LogCapture log;
    const LoadedScenes loaded = loadScenes(settings, CameraModel::kMaxScenes);
    ASSERT_EQ(loaded.scenes.size(), 1u);
    EXPECT_EQ(loaded.scenes[0].name, "Kept");
    EXPECT_TRUE(loaded.readInPart);
    ASSERT_EQ(log.lines().size(), 1u);
    const std::string line = log.lines()[0];
    EXPECT_LT(line.size(), 300u);
    EXPECT_EQ(line.rfind("Scenes: read 1 of 100002 stored scenes (scene 2: no \"id\" holding a UUID; scene 3: ", 0), 0u) << line;
    EXPECT_TRUE(line.ends_with("; and 99998 more)")) << line;
}

// Reading stops at the limit: bad elements before it do not use up a slot,
// and nothing after it is read, however it is damaged.
TEST(SceneStoreTest, ReadingStopsAtTheLimit) {
    const auto scene = [](int n) {
        return element("00000000-0000-4000-8000-00000000000" + std::to_string(n),
                       R"("name":"S)" + std::to_string(n) + R"(","position":{"pan":1,"tilt":2})");
    };
    struct Case {
        const char* name;
        std::string text;
        size_t limit;
        std::vector<std::string> names;
        size_t pastLimit;
        size_t problems;
    };
    const std::vector<Case> cases{
        {"under", "[" + scene(1) + "," + scene(2) + "]", 3, {"S1", "S2"}, 0, 0},
        {"exactly", "[" + scene(1) + "," + scene(2) + "]", 2, {"S1", "S2"}, 0, 0},
        {"past", "[" + scene(1) + "," + scene(2) + "," + scene(3) + "," + scene(4) + "]", 2, {"S1", "S2"}, 2, 0},
        {"a bad one before takes no slot", "[" + scene(1) + ",{}," + scene(2) + "," + scene(3) + "]", 2, {"S1", "S2"},
         1, 1},
        {"damage past the limit is not read", "[" + scene(1) + "," + scene(2) + ",{},\"\xff\"]", 2, {"S1", "S2"}, 2,
         0},
        {"none", "[" + scene(1) + "]", 0, {}, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto decoded = decodeScenes(c.text, c.limit);
        ASSERT_TRUE(decoded.has_value());
        std::vector<std::string> names;
        for (const CameraScene& read : decoded->scenes) names.push_back(read.name);
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(decoded->pastLimit, c.pastLimit);
        EXPECT_EQ(decoded->problems.size(), c.problems);
    }
}

TEST(SceneStoreTest, TheStoredLooksLineTellsWhatWasLeftOut) {
    const LookLoadFailure gone{"/looks/a.cube", "The LUT file could not be read"};
    struct Case {
        const char* label;
        StoredLooksReport report;
        std::optional<std::string> line;
    };
    const std::vector<Case> cases{
        {"all loaded", {.stored = 3, .tried = 3}, std::nullopt},
        {"nothing stored", {}, std::nullopt},
        {"one failed", {.stored = 3, .tried = 3, .failed = 1, .firstFailure = gone},
         "Looks: 1 of 3 stored looks not loaded; /looks/a.cube: The LUT file could not be read"},
        {"several failed", {.stored = 3, .tried = 3, .failed = 2, .firstFailure = gone},
         "Looks: 2 of 3 stored looks not loaded; 2 failed, the first /looks/a.cube: The LUT file could not be read"},
        {"some not tried", {.stored = 300, .tried = 256},
         "Looks: 44 of 300 stored looks not loaded; 44 after the first 256 not tried"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.report.logLine(), c.line);
    }
}

TEST(SceneStoreTest, OnlyTheFirstStoredLookPathsAreTried) {
    StringArray paths;
    for (int i = 0; i < 5; ++i) paths.push_back("/looks/" + std::to_string(i) + ".cube");
    MemorySettingsStore settings({{"customLUTPaths", paths}});
    const StoredLookPaths bounded = storedLookPaths(settings, {.maxPathsTried = 3});
    EXPECT_EQ(bounded.tried, (std::vector<std::string>{paths.begin(), paths.begin() + 3}));
    EXPECT_EQ(bounded.stored, 5u);
    EXPECT_TRUE(bounded.readInPart) << "the paths not tried are not read";
    EXPECT_EQ(storedLookPaths(settings).tried, paths);
    EXPECT_FALSE(storedLookPaths(settings).readInPart);
    EXPECT_EQ(storedLookPaths(MemorySettingsStore()).stored, 0u);
}

// Values as a settings file holds them, read through the real store: any
// shape other than the one written counts as read in part, so the model
// keeps a copy before it writes the key again.
TEST(SceneStoreTest, AStoredValueOfAnotherShapeIsReadInPart) {
    const std::string scene = element(kId, R"("name":"Desk","position":{"pan":1,"tilt":2})");
    const std::string list = "[" + scene + "]";
    struct Case {
        const char* name;
        const char* key;
        std::string member;  // JSON text; empty: the key is absent
        bool readInPart;
        size_t read;
    };
    const std::vector<Case> cases{
        {"scenes absent", "scenes", "", false, 0},
        {"scenes as written", "scenes", R"({"$data":")" + base64Encode(hk::Bytes(list.begin(), list.end())) + "\"}",
         false, 1},
        {"scenes, an empty list", "scenes", R"({"$data":"W10="})", false, 0},
        {"scenes as a plain JSON array", "scenes", "[" + scene + "]", true, 0},
        {"scenes as data that is not Base64", "scenes", R"({"$data":"!!!notbase64"})", true, 0},
        {"scenes as a newer version's object", "scenes", R"({"list":[]})", true, 0},
        {"scenes as text", "scenes", "\"[]\"", true, 0},
        {"looks absent", "customLUTPaths", "", false, 0},
        {"looks as written", "customLUTPaths", R"(["/a.cube","/b.cube"])", false, 2},
        {"looks as one path", "customLUTPaths", R"("/a.cube")", true, 0},
        {"looks as objects", "customLUTPaths", R"([{"path":"/a.cube"}])", true, 0},
        {"looks mixed", "customLUTPaths", R"(["/a.cube",7])", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hk::testsupport::TempDir dir;
        const auto file = dir.path() / "settings.json";
        std::ofstream(file) << "{" << (c.member.empty() ? "" : "\"" + std::string(c.key) + "\":" + c.member) << "}";
        const JsonSettingsStore settings(file);
        hk::testsupport::LogCapture log;
        if (std::string_view(c.key) == "scenes") {
            const LoadedScenes loaded = loadScenes(settings, CameraModel::kMaxScenes);
            EXPECT_EQ(loaded.readInPart, c.readInPart);
            EXPECT_EQ(loaded.scenes.size(), c.read);
            EXPECT_EQ(log.count("Scenes:"), c.readInPart ? 1 : 0) << ::testing::PrintToString(log.lines());
        } else {
            const StoredLookPaths paths = storedLookPaths(settings);
            EXPECT_EQ(paths.readInPart, c.readInPart);
            EXPECT_EQ(paths.tried.size(), c.read);
            EXPECT_EQ(log.count("Looks:"), c.readInPart ? 1 : 0) << ::testing::PrintToString(log.lines());
        }
    }
}

TEST(SceneStoreTest, ARepeatedIdKeepsTheFirstScene) {
    const std::string first = element(kId, R"("name":"First","position":{"pan":0,"tilt":0})");
    const std::string again = element("3f2504e0-4f89-41d3-9a0c-0305e82c3301", R"("name":"Again","position":{"pan":1,"tilt":1})");
    const auto decoded = decodeScenes("[" + first + "," + again + "]");
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(decoded->scenes.size(), 1u);
    EXPECT_EQ(decoded->scenes[0].name, "First");
    EXPECT_EQ(decoded->problems, (std::vector<std::string>{"scene 2: the \"id\" of an earlier scene"}));
}

TEST(SceneStoreTest, TextThatIsNoListIsRefusedWhole) {
    for (const char* text : {"", "not json", "[{\"id\":", "{\"scenes\":[]}", "\"[]\"", "null", "[1] x"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(decodeScenes(text).has_value());
    }
}

TEST(SceneStoreTest, WritesOnlyTheStoredKeysAndReadsBackTheSameScenes) {
    const std::vector<CameraScene> scenes{
        {kId, "Desk \"left\"", {-12.5, 4, 150}, hk::Bytes{0xFF, 0xD8, 0x00, 0x7F}},
        {"00000000-0000-4000-8000-000000000002", "Wide ✓", {0.1, -30.25, std::nullopt}, std::nullopt},
        {"00000000-0000-4000-8000-000000000003", "", {180, 90, 100}, hk::Bytes{}},
    };
    const std::optional<hk::Bytes> bytes = encodeScenes(scenes);
    ASSERT_TRUE(bytes.has_value());
    const std::string text = textOf(*bytes);
    EXPECT_EQ(text.find('\n'), std::string::npos) << "compact";

    const json document = json::parse(text);
    ASSERT_TRUE(document.is_array());
    ASSERT_EQ(document.size(), 3u);
    EXPECT_EQ(document[0].size(), 4u);
    EXPECT_EQ(document[0]["id"], kId);
    EXPECT_EQ(document[0]["thumbnail"], "/9gAfw==");
    EXPECT_EQ(document[0]["position"], json::parse(R"({"pan":-12.5,"tilt":4,"zoom":150})"));
    EXPECT_FALSE(document[1].contains("thumbnail"));
    EXPECT_FALSE(document[1]["position"].contains("zoom"));

    const auto decoded = decodeScenes(text);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->scenes, scenes);
    EXPECT_TRUE(decoded->problems.empty());
}

// A list that cannot be stored is written nowhere and never reported saved.
TEST(SceneStoreTest, APositionThatIsNotFiniteWritesNothing) {
    for (const hk::CameraPosition& position :
         {hk::CameraPosition{std::nan(""), 0, std::nullopt}, hk::CameraPosition{0, INFINITY, 100}}) {
        const std::vector<CameraScene> scenes{{kId, "Lost", position, std::nullopt}};
        EXPECT_FALSE(encodeScenes(scenes).has_value());
        MemorySettingsStore settings;
        EXPECT_EQ(saveScenes(settings, scenes).failure, kUnencodableScenes);
        EXPECT_TRUE(settings.writes().empty());
    }
}

TEST(SceneStoreTest, NewIdsAreVersionFourUuidsInUpperCase) {
    FakeSecureRandom random(0xF8);
    // Bytes F8 F9 … 07: the version and variant bits replace the top of bytes 6 and 8.
    EXPECT_EQ(makeSceneId(random), "F8F9FAFB-FCFD-4EFF-8001-020304050607");
    const std::string next = makeSceneId(random);
    EXPECT_EQ(canonicalSceneId(next), next);
    EXPECT_NE(next, "F8F9FAFB-FCFD-4EFF-8001-020304050607");
}

}  // namespace
}  // namespace lumenhollow::test
