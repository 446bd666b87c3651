// The model over the real settings file: whatever state the file is in,
// the model starts, and a value already in a good file is never lost.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hollowkit/testing/test_support.h"
#include "lumenhollow/platform/json_settings_store.h"
#include "lumenhollow/testing/file_test_support.h"
#include "model_harness.h"

namespace lumenhollow::test {
namespace {

namespace fs = std::filesystem;
using hollowkit::testsupport::LogCapture;
using hollowkit::testsupport::TempDir;
using nlohmann::json;

// Every kind of value the model or a newer version keeps, with choices
// that differ from the defaults.
constexpr std::string_view kGoodFile = R"({
  "autoZoom": false,
  "guides": ["Grid"],
  "recordCountdown": 5,
  "pairingIdentifier": "0123456789abcdef0123456789abcdef",
  "homeNetworkSSID": "Home",
  "customLUTPaths": ["/home/ann/Looks/Warm.cube"],
  "scenes": {"$data": "W10="},
  "lastScreenTake": {"$url": "file:///home/ann/Videos/Lumenhollow/Take"},
  "aNewerVersionsKey": {"nested": [1, {"deep": null}]}
})";

void writeFile(const fs::path& path, std::string_view text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The file a refused settings file was moved to, if any.
std::optional<fs::path> movedAside(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with("settings.json.corrupt-")) return entry.path();
    }
    return std::nullopt;
}

std::shared_ptr<CameraModel> createOver(ModelHarness& h, SettingsStore& store) {
    CameraModelServices base = h.services();
    return CameraModel::create(CameraModelServices{base.main, store, base.secrets, base.random, base.disk,
                                                   base.cameras, base.shell, base.desktop, base.displayLayer,
                                                   base.notchDisplayLayer, base.outputFolder, base.imaging});
}

TEST(SettingsFileTest, AnyFileStartsTheModelAndNoGoodValueIsLost) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& file)> make;
        bool readOnlyFolder;
        bool goodValues;       // the good file's values are in effect, else the defaults
        const char* startLog;  // a line naming the trouble; nullptr: no settings line
        const char* writeLog;  // the line a later change causes; nullptr: it is saved
    };
    const std::vector<Case> cases{
        {"good file", [](const fs::path& f) { writeFile(f, kGoodFile); }, false, true, nullptr, nullptr},
        {"no file yet", [](const fs::path&) {}, false, false, nullptr, nullptr},
        {"damaged JSON", [](const fs::path& f) { writeFile(f, kGoodFile.substr(0, 40)); }, false, false,
         "is damaged", nullptr},
        {"not an object", [](const fs::path& f) { writeFile(f, R"([{"autoZoom": false}])"); }, false, false,
         "not an object", nullptr},
        {"50 MB",
         [](const fs::path& f) {
             // Sparse: the store refuses it by its size, unread.
             writeFile(f, R"({"autoZoom": false, "pad": ")");
             fs::resize_file(f, 50'000'000);
         },
         false, false, "larger than", nullptr},
        {"read-only folder with a good file", [](const fs::path& f) { writeFile(f, kGoodFile); }, true, true,
         nullptr, "\"videoCodec\" not saved"},
        {"read-only folder without a file", [](const fs::path& f) { fs::create_directories(f.parent_path()); },
         true, false, "\"pairingIdentifier\" not saved", "\"videoCodec\" not saved"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::permissions(dir.path(), fs::perms(0755));
        ScopedEnv configHome("XDG_CONFIG_HOME", (dir.path() / "config").c_str());
        const fs::path file = JsonSettingsStore::defaultPath();
        ASSERT_EQ(file, dir.path() / "config" / "lumenhollow" / "settings.json");
        c.make(file);
        const bool hadFile = fs::exists(file);
        const uintmax_t sizeBefore = hadFile ? fs::file_size(file) : 0;
        const std::string before = hadFile && sizeBefore < 1'000'000 ? readFile(file) : "";
        if (c.readOnlyFolder) fs::permissions(file.parent_path(), fs::perms(0555));

        {
            // Root would write to the read-only folder all the same.
            std::optional<FilesAsNobody> nobody;
            if (c.readOnlyFolder) nobody.emplace();
            LogCapture log;
            ModelHarness h;
            JsonSettingsStore store(file);
            const std::shared_ptr<CameraModel> model = createOver(h, store);
            const PublishedState& s = model->state();
            EXPECT_EQ(s.autoZoom, !c.goodValues);
            EXPECT_EQ(s.guides, c.goodValues ? std::set{GuideKind::grid} : std::set<GuideKind>{});
            EXPECT_EQ(s.countdownSeconds, c.goodValues ? 5 : 0);
            EXPECT_EQ(h.cameras.builds().at(0).pairingIdentifier.size(), 32u);
            if (c.startLog) {
                EXPECT_EQ(log.count(c.startLog), 1) << ::testing::PrintToString(log.lines());
            } else {
                EXPECT_EQ(log.count("Settings:"), 0) << ::testing::PrintToString(log.lines());
            }

            log.clear();
            model->setCodec(hollowkit::VideoCodec::h264);
            EXPECT_EQ(model->state().codec, hollowkit::VideoCodec::h264);
            EXPECT_EQ(store.get<std::string>("videoCodec"), "H.264") << "read back from memory all the same";
            if (c.writeLog) {
                EXPECT_EQ(log.count(c.writeLog), 1) << ::testing::PrintToString(log.lines());
            } else {
                EXPECT_TRUE(log.lines().empty()) << ::testing::PrintToString(log.lines());
            }
        }
        fs::permissions(file.parent_path(), fs::perms(0755));

        // What the file held is still there: in place, or moved aside whole.
        if (c.readOnlyFolder || !hadFile) {
            EXPECT_EQ(movedAside(file.parent_path()), std::nullopt);
        }
        if (c.readOnlyFolder) {
            EXPECT_EQ(hadFile ? readFile(file) : "", before) << "a folder it cannot write is left as it was";
            continue;
        }
        const json written = json::parse(readFile(file));
        if (c.goodValues) {
            json expected = json::parse(before);
            expected["videoCodec"] = "H.264";
            EXPECT_EQ(written, expected) << "only the changed key differs";
        } else {
            // A new file, with the identifier made for the camera and the change.
            ASSERT_TRUE(written.is_object());
            EXPECT_EQ(written.size(), 2u) << written.dump();
            EXPECT_EQ(written.value("videoCodec", ""), "H.264");
            EXPECT_EQ(written.value("pairingIdentifier", "").size(), 32u);
        }
        if (hadFile && !c.goodValues) {
            const std::optional<fs::path> aside = movedAside(file.parent_path());
            ASSERT_TRUE(aside.has_value());
            EXPECT_EQ(fs::file_size(*aside), sizeBefore);
            if (!before.empty()) {
                EXPECT_EQ(readFile(*aside), before);
            }
        }
    }
}

TEST(SettingsFileTest, ThePairingIdentifierOutlivesABadNumberAndAFileThatCannotBeOpened) {
    constexpr std::string_view kIdentifier = "0123456789abcdef0123456789abcdef";
    struct Case {
        const char* name;
        std::string member;  // one more member of the file
        bool unreadable;     // the file cannot be opened during the launch
    };
    const std::vector<Case> cases{
        {"1e400 in the countdown", R"("recordCountdown": 1e400)", false},
        {"a hundred thousand digits in a newer version's key", "\"future\": " + std::string(100'000, '8'), false},
        {"no permission to read the file", R"("recordCountdown": 5)", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::permissions(dir.path(), fs::perms(0755));
        const fs::path file = dir.path() / "lumenhollow" / "settings.json";
        const std::string text =
            R"({"pairingIdentifier": ")" + std::string(kIdentifier) + R"(", "autoZoom": false, )" + c.member + "}";
        writeFile(file, text);
        fs::permissions(file.parent_path(), fs::perms(0755));
        if (c.unreadable) fs::permissions(file, fs::perms::none);

        LogCapture log;
        {
            ModelHarness h;
            std::optional<JsonSettingsStore> store;
            {
                std::optional<FilesAsNobody> nobody;
                if (c.unreadable) nobody.emplace();
                store.emplace(file);
            }
            const std::shared_ptr<CameraModel> model = createOver(h, *store);
            EXPECT_EQ(model->state().countdownSeconds, 0);
            EXPECT_EQ(model->state().autoZoom, c.unreadable) << "read from the file, unless it cannot be";
            const std::string paired = h.cameras.builds().at(0).pairingIdentifier;
            EXPECT_EQ(paired == kIdentifier, !c.unreadable) << paired;
            model->setCodec(hollowkit::VideoCodec::h264);
        }
        EXPECT_EQ(log.count("Settings:"), 1) << ::testing::PrintToString(log.lines());
        EXPECT_EQ(movedAside(file.parent_path()), std::nullopt);
        fs::permissions(file, fs::perms(0600));
        if (c.unreadable) {
            EXPECT_EQ(readFile(file), text) << "nothing was written over it";
        }
        EXPECT_EQ(JsonSettingsStore(file).get<std::string>("pairingIdentifier"), kIdentifier);
    }
}

}  // namespace
}  // namespace lumenhollow::test
