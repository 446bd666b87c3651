// The model over the real settings file, with its real size limit: a stored
// list it could not read whole (too long for the slots, of another shape)
// is replaced only once a whole copy of it lies beside the settings; where
// no copy can be kept, and wherever settings cannot be written, the changes
// stand for the session and the user is told once.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hollowkit/testing/test_support.h"
#include "lumenhollow/platform/base64.h"
#include "lumenhollow/platform/json_settings_store.h"
#include "lumenhollow/testing/fake_file_picker.h"
#include "lumenhollow/testing/file_test_support.h"
#include "model_harness.h"

namespace lumenhollow::test {
namespace {

namespace fs = std::filesystem;
namespace hk = hollowkit;
using hk::testsupport::LogCapture;
using hk::testsupport::TempDir;
using nlohmann::json;

constexpr const char* kIdentifier = "0123456789abcdef0123456789abcdef";

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// `count` scenes as the program stores them, each named `nameLength`
// characters and with a thumbnail of `thumbnailBytes` (none for 0).
json storedScenes(int count, size_t nameLength, size_t thumbnailBytes) {
    json scenes = json::array();
    for (int i = 0; i < count; ++i) {
        const std::string digits = std::to_string(i);
        json scene{{"id", "00000000-0000-4000-8000-" + std::string(12 - digits.size(), '0') + digits},
                   {"name", std::string(nameLength - digits.size(), 'n') + digits},
                   {"position", {{"pan", i % 90}, {"tilt", 0}}}};
        if (thumbnailBytes > 0) {
            hk::Bytes picture(thumbnailBytes);
            for (size_t b = 0; b < picture.size(); ++b) picture[b] = static_cast<uint8_t>((b * 131 + i) >> 3);
            scene["thumbnail"] = base64Encode(picture);
        }
        scenes.push_back(std::move(scene));
    }
    const std::string text = scenes.dump();
    return json{{"$data", base64Encode(hk::Bytes(text.begin(), text.end()))}};
}

// The first file beside the settings whose name starts so.
std::optional<fs::path> copyOf(const fs::path& folder, const std::string& key) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with("settings.json." + key + "-")) return entry.path();
    }
    return std::nullopt;
}

class StoredListCopyTest : public ::testing::Test {
public:
    StoredListCopyTest() { h_.cameras.setPocketConnected(true); }

    fs::path folder() const { return dir_.path() / "lumenhollow"; }
    fs::path file() const { return folder() / "settings.json"; }

    // Writes the settings file: welcomed, paired, and `members`.
    void storeFile(json members) {
        fs::create_directories(folder());
        members["welcomed"] = true;
        members["pairingIdentifier"] = kIdentifier;
        std::ofstream(file(), std::ios::binary | std::ios::trunc) << members.dump();
    }

    // A launch over the file; every notice shown is kept in notices_.
    CameraModel& launch() {
        store_.emplace(file());
        CameraModelServices base = h_.services();
        CameraModelServices services{base.main,    *store_,  base.secrets,     base.random,
                                     base.disk,    base.cameras, base.shell,   base.desktop,
                                     base.displayLayer, base.notchDisplayLayer, base.outputFolder, base.imaging};
        services.filePicker = &picker_;
        h_.model = CameraModel::create(std::move(services));
        h_.model->camera().start();
        h_.main.runUntilIdle();
        h_.model->addObserver([this](Field field) {
            if (field == Field::notice && h_.state().notice) notices_.push_back(*h_.state().notice);
        });
        return *h_.model;
    }

    void saveScene() {
        h_.camera()->setPosition(hk::CameraPosition{5, 5, std::nullopt});
        h_.model->saveCurrentPositionAsScene();
        h_.main.runUntilIdle();
    }

    // The look importLook() chooses; made before files are written as nobody.
    fs::path writeLook() {
        const fs::path look = dir_.path() / "Warm.cube";
        if (fs::exists(look)) return look;
        std::string text = "LUT_3D_SIZE 2\n";
        for (int i = 0; i < 8; ++i) text += "0.5 0.25 0.125\n";
        std::ofstream(look) << text;
        return look;
    }

    void importLook() {
        const fs::path look = writeLook();
        h_.model->importLUT();
        ASSERT_TRUE(picker_.choose({look}));
        h_.main.runUntilIdle();
    }

    TempDir dir_;
    ModelHarness h_;
    FakeFilePicker picker_;
    std::optional<JsonSettingsStore> store_;
    std::vector<std::string> notices_;
};

TEST_F(StoredListCopyTest, AListReadInPartIsReplacedOnlyOnceAWholeCopyOfItIsKept) {
    const json oneScene = json::parse(
        R"([{"id":"00000000-0000-4000-8000-000000000001","name":"Desk","position":{"pan":1,"tilt":2}}])");
    const std::string stillThere = "Settings cannot be saved";
    struct Case {
        const char* name;
        const char* key;
        json member;
        std::function<void(StoredListCopyTest&)> change;
        bool readOnly;
        const char* notice;  // the notice the change ends with
    };
    const auto renameFirst = [](StoredListCopyTest& t) {
        t.h_.model->renameScene(t.h_.state().scenes.at(0).id, "First");
    };
    const std::vector<Case> cases{
        {"10,000 scenes with 150-character names, one renamed", "scenes", storedScenes(10'000, 150, 0),
         renameFirst, false, nullptr},
        {"40 scenes with 45 kB thumbnails, one renamed", "scenes", storedScenes(40, 20, 45'000), renameFirst, false,
         nullptr},
        {"a plain JSON array, a scene saved", "scenes", oneScene, &StoredListCopyTest::saveScene, false,
         "Scene 1 saved (Alt+1)"},
        {"data that is not Base64, a scene saved", "scenes", json{{"$data", "!!!notbase64"}},
         &StoredListCopyTest::saveScene, false, "Scene 1 saved (Alt+1)"},
        {"looks of another shape, a look imported", "customLUTPaths", json("/home/ann/Looks/Warm.cube"),
         &StoredListCopyTest::importLook, false, nullptr},
        {"a read-only folder, a scene saved", "scenes", oneScene, &StoredListCopyTest::saveScene, true,
         "Scenes cannot be saved (no copy of the stored ones could be kept: Permission denied); changes last "
         "until Lumenhollow quits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder());
        storeFile(json{{c.key, c.member}});
        const std::string before = fileText(file());
        ASSERT_LE(before.size(), JsonSettingsStore::kMaxFileBytes);
        if (c.readOnly) {
            fs::permissions(dir_.path(), fs::perms(0755));
            fs::permissions(folder(), fs::perms(0555));
        }
        notices_.clear();
        LogCapture log;
        {
            // Root would write to the read-only folder all the same.
            std::optional<FilesAsNobody> nobody;
            if (c.readOnly) nobody.emplace();
            launch();
            c.change(*this);
            if (c.notice) {
                EXPECT_EQ(h_.state().notice, c.notice);
            }
            // The change stands, saved or not.
            if (std::string_view(c.key) == "scenes") {
                ASSERT_FALSE(h_.state().scenes.empty());
            } else {
                EXPECT_EQ(h_.state().customLUTs.size(), 1u);
            }
            const std::vector<CameraScene> scenes = h_.state().scenes;
            h_.model.reset();
            h_.main.runUntilIdle();
            store_.reset();

            if (c.readOnly) {
                EXPECT_EQ(fileText(file()), before) << "the stored list is left as it is";
                EXPECT_EQ(copyOf(folder(), c.key), std::nullopt);
                continue;
            }
            EXPECT_EQ(log.count("not saved"), 0) << ::testing::PrintToString(log.lines());
            for (const std::string& notice : notices_) EXPECT_EQ(notice.find(stillThere), std::string::npos);
            // The copy holds the stored value whole, and only it.
            const std::optional<fs::path> copy = copyOf(folder(), c.key);
            ASSERT_TRUE(copy.has_value());
            EXPECT_EQ(json::parse(fileText(*copy)), (json{{c.key, c.member}}));
            // The settings hold the change, and the next launch reads it whole.
            JsonSettingsStore after(file());
            if (std::string_view(c.key) == "scenes") {
                const LoadedScenes loaded = loadScenes(after, CameraModel::kMaxScenes);
                EXPECT_FALSE(loaded.readInPart);
                EXPECT_EQ(loaded.scenes, scenes);
            } else {
                EXPECT_EQ(after.get<StringArray>(c.key), StringArray{(dir_.path() / "Warm.cube").string()});
            }
        }
    }
}

// A folder that cannot be written: every change stands for the session, the
// user hears once why nothing is saved, and no scene is said to be saved;
// also when a hand-written list cannot be copied either, which the same
// folder refuses.
TEST_F(StoredListCopyTest, SettingsThatCannotBeSavedAreToldOnceAndNothingClaimsToBeSaved) {
    const json handWritten = json::parse(
        R"([{"id":"00000000-0000-4000-8000-000000000001","name":"Desk","position":{"pan":1,"tilt":2}}])");
    struct Case {
        const char* name;
        json members;
        std::string told;
    };
    const std::vector<Case> cases{
        {"settings alone", json::object(),
         std::string("Settings cannot be saved (") + std::strerror(EACCES) + "); changes last until Lumenhollow quits"},
        {"a hand-written list of scenes", json{{"scenes", handWritten}},
         std::string("Scenes cannot be saved (no copy of the stored ones could be kept: ") + std::strerror(EACCES) +
             "); changes last until Lumenhollow quits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder());
        storeFile(c.members);
        const std::string before = fileText(file());
        fs::permissions(dir_.path(), fs::perms(0755));
        fs::permissions(folder(), fs::perms(0555));
        notices_.clear();
        writeLook();
        {
            FilesAsNobody nobody;
            launch();
            EXPECT_TRUE(notices_.empty()) << "reading writes nothing";
            saveScene();
            EXPECT_EQ(h_.state().notice, c.told);
            h_.model->setCodec(hk::VideoCodec::h264);
            h_.model->toggleGuide(GuideKind::grid);
            saveScene();
            EXPECT_EQ(h_.state().notice, "Scene 2 kept until Lumenhollow quits (Alt+2)");
            importLook();
            EXPECT_EQ(h_.state().scenes.size(), 2u);
            EXPECT_EQ(h_.state().codec, hk::VideoCodec::h264);
            EXPECT_EQ(h_.state().guides, std::set<GuideKind>{GuideKind::grid});
            EXPECT_EQ(h_.state().customLUTs.size(), 1u);
            h_.model.reset();
            h_.main.runUntilIdle();
            store_.reset();
        }
        const auto told = std::count_if(notices_.begin(), notices_.end(), [](const std::string& notice) {
            return notice.find("cannot be saved") != std::string::npos;
        });
        EXPECT_EQ(told, 1) << ::testing::PrintToString(notices_);
        for (const std::string& notice : notices_) EXPECT_EQ(notice.find("saved (Alt+"), std::string::npos) << notice;
        fs::permissions(folder(), fs::perms(0755));
        EXPECT_EQ(fileText(file()), before);
    }
}

// Settings linked into a folder that cannot be written, beside copies that
// can be: the list read in part is copied at the first launch and not again
// at the next ones, whose copies would hold the same bytes.
TEST_F(StoredListCopyTest, AListThatIsNeverReplacedIsCopiedOnce) {
    const fs::path dotfiles = dir_.path() / "dotfiles";
    const json handWritten = json::parse(
        R"([{"id":"00000000-0000-4000-8000-000000000001","name":"Desk","position":{"pan":1,"tilt":2}}])");
    storeFile(json{{"scenes", handWritten}});
    fs::create_directories(dotfiles);
    fs::rename(file(), dotfiles / "settings.json");
    fs::create_symlink("../dotfiles/settings.json", file());
    const std::string before = fileText(dotfiles / "settings.json");
    fs::permissions(dir_.path(), fs::perms(0755));
    fs::permissions(dotfiles, fs::perms(0555));
    fs::permissions(folder(), fs::perms(0777));
    const auto copies = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder())) {
            const std::string name = entry.path().filename().string();
            if (name != "settings.json") names.push_back(name);
        }
        return names;
    };
    for (int launchNumber = 1; launchNumber <= 3; ++launchNumber) {
        SCOPED_TRACE("launch " + std::to_string(launchNumber));
        notices_.clear();
        FilesAsNobody nobody;
        launch();
        saveScene();
        EXPECT_EQ(notices_, std::vector<std::string>{std::string("Settings cannot be saved (") +
                                                     std::strerror(EACCES) +
                                                     "); changes last until Lumenhollow quits"});
        h_.model.reset();
        h_.main.runUntilIdle();
        store_.reset();
        EXPECT_EQ(copies().size(), 1u) << ::testing::PrintToString(copies());
    }
    fs::permissions(dotfiles, fs::perms(0755));
    EXPECT_EQ(fileText(dotfiles / "settings.json"), before);
    EXPECT_TRUE(fs::is_symlink(file()));
    ASSERT_EQ(copies().size(), 1u);
    EXPECT_EQ(json::parse(fileText(folder() / copies().front())), (json{{"scenes", handWritten}}));
}

}  // namespace
}  // namespace lumenhollow::test
