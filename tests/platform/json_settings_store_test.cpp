#include "lumenhollow/platform/json_settings_store.h"

#include <gtest/gtest.h>

#include "json_settings_store_bench.h"

// The settings file as it is written and read back: types, unknown keys,
// whole replacement, copies kept beside it, and where it lives.

namespace lumenhollow {
namespace {

using namespace settings_test;

TEST_F(JsonSettingsStoreTest, ValuesKeepTheirTypesAcrossARelaunch) {
    const std::pair<const char*, SettingsValue> values[] = {
        {"welcomed", true},
        {"recordCountdown", int64_t{10}},
        {"zoom", 2.0},
        {"videoCodec", std::string("H.264")},
        {"guides", StringArray{"Grid", "9:16 Frame"}},
        {"scenes", Bytes{'[', ']', 0, 0xff}},
        {"lastScreenTake", Url::fromPath("/home/ann/Videos/Lumenhollow/take")},
    };
    LogCapture log;
    {
        // The folder does not exist yet: the first write makes it.
        JsonSettingsStore store(file(), clock_);
        for (const auto& [key, value] : values) store.set(key, value);
        store.set("removed", "soon");
        store.remove("removed");
    }
    JsonSettingsStore relaunched(file(), clock_);
    for (const auto& [key, value] : values) EXPECT_EQ(relaunched.value(key), value) << key;
    EXPECT_EQ(relaunched.value("removed"), std::nullopt);
    EXPECT_EQ(relaunched.get<int64_t>("zoom"), std::nullopt);  // 2.0 stays a double
    EXPECT_TRUE(log.lines().empty()) << log.lines().front();
}

TEST_F(JsonSettingsStoreTest, StoredValuesOfTheWrongTypeReadAsTheDefault) {
    writeFile(file(), R"({"autoZoom": "NO", "showInNotch": false, "recordCountdown": "5",
                          "welcomed": 1, "homeNetworkSSID": ["Home"]})");
    JsonSettingsStore store(file(), clock_);
    EXPECT_TRUE(store.get<bool>("autoZoom", true));
    EXPECT_FALSE(store.get<bool>("showInNotch", true));
    EXPECT_EQ(store.get<int64_t>("recordCountdown", 0), 0);
    EXPECT_FALSE(store.get<bool>("welcomed", false));
    EXPECT_EQ(store.get<std::string>("homeNetworkSSID"), std::nullopt);
}

TEST_F(JsonSettingsStoreTest, AWriteKeepsEveryOtherKeyIncludingOnesThisVersionDoesNotKnow) {
    const json original = json::parse(R"({
        "recordCountdown": 3,
        "futureFeature": {"nested": [1, {"x": null}], "$url": 4},
        "futureList": [1, "two", 3.5],
        "futureNull": null,
        "replacedLater": {"old": "shape"},
        "removedLater": {"old": "shape"}
    })");
    writeFile(file(), original.dump());
    {
        JsonSettingsStore store(file(), clock_);
        store.set("recordScreen", true);
        store.set("replacedLater", "new");
        store.remove("removedLater");
    }
    json expected = original;
    expected["recordScreen"] = true;
    expected["replacedLater"] = "new";
    expected.erase("removedLater");
    EXPECT_EQ(json::parse(readFile(file())), expected);
}

TEST_F(JsonSettingsStoreTest, EachWriteReplacesTheFileWholeAndLeavesNoTemporary) {
    JsonSettingsStore store(file(), clock_);
    // Each earlier generation of the file, held open.
    std::vector<std::pair<int, hollowkit::UniqueFd>> generations;
    for (int i = 0; i < 4; ++i) {
        store.set("recordCountdown", int64_t{i});
        struct stat info {};
        ASSERT_EQ(::stat(file().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_EQ(namesIn(folder()), std::set<std::string>{"settings.json"});
        EXPECT_EQ(json::parse(readFile(file())).at("recordCountdown"), i);
        generations.emplace_back(i, hollowkit::UniqueFd(::open(file().c_str(), O_RDONLY | O_CLOEXEC)));
    }
    // A reader that opened an older file still sees it whole: the new file
    // was renamed into place, never written over the old one.
    for (const auto& [value, fd] : generations) {
        std::string text(4096, '\0');
        const ssize_t n = ::pread(fd.get(), text.data(), text.size(), 0);
        ASSERT_GT(n, 0);
        text.resize(static_cast<size_t>(n));
        EXPECT_EQ(json::parse(text).at("recordCountdown"), value);
    }
}

TEST_F(JsonSettingsStoreTest, ALinkedSettingsFileIsReplacedWhereItLies) {
    const fs::path kept = dir_.path() / "dotfiles" / "settings.json";
    writeFile(kept, R"({"welcomed": true})");
    fs::create_directories(folder());
    fs::create_symlink("../../dotfiles/settings.json", file());
    {
        JsonSettingsStore store(file(), clock_);
        store.set("recordScreen", true);
    }
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(json::parse(readFile(kept)), json::parse(R"({"welcomed": true, "recordScreen": true})"));
    EXPECT_EQ(namesIn(kept.parent_path()), std::set<std::string>{"settings.json"});
}

// A copy of one value, kept before a change replaces a value the program
// could not read whole: whatever its shape and size, it lands whole in a
// file of its own beside the settings, one that reads as a settings file,
// and never over an earlier copy.
TEST_F(JsonSettingsStoreTest, ACopyOfAnyStoredValueIsKeptWholeBesideTheSettings) {
    constexpr const char* kCopyName = "settings.json.scenes-20240501-120000";
    // 10,000 scenes of 150-character names: 3.3 MB, well past the room a
    // second copy would have inside the settings.
    json many = json::array();
    for (int i = 0; i < 10'000; ++i) {
        many.push_back({{"id", "00000000-0000-4000-8000-" + std::string(12 - std::to_string(i).size(), '0') +
                                   std::to_string(i)},
                        {"name", std::string(150, 'n')},
                        {"position", {{"pan", i % 90}, {"tilt", 0}}}});
    }
    const std::string manyText = many.dump();
    struct Case {
        const char* name;
        std::string member;                 // JSON text of "scenes"; empty: absent
        std::vector<std::string> taken;     // copies already there
        bool readOnly;
        std::optional<std::string> copy;    // the copy's name; nothing: none is kept
    };
    const std::vector<Case> cases{
        {"data", R"({"$data":"W10="})", {}, false, kCopyName},
        {"3.3 MB of data", R"({"$data":")" + base64Encode(Bytes(manyText.begin(), manyText.end())) + "\"}", {},
         false, kCopyName},
        {"a plain JSON array", "[" + many[0].dump() + "]", {}, false, kCopyName},
        {"data that is not Base64", R"({"$data":"!!!notbase64"})", {}, false, kCopyName},
        {"a second copy in the same second", R"([1])", {kCopyName}, false, std::string(kCopyName) + "-2"},
        {"a gap is not filled", R"([1])", {kCopyName, std::string(kCopyName) + "-3"}, false,
         std::string(kCopyName) + "-2"},
        {"nothing stored", "", {}, false, std::nullopt},
        {"a read-only folder", R"([1])", {}, true, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder());
        const std::string text =
            R"({"welcomed": true)" + (c.member.empty() ? std::string() : R"(, "scenes": )" + c.member) + "}";
        ASSERT_LT(text.size(), JsonSettingsStore::kMaxFileBytes);
        writeFile(file(), text);
        for (const std::string& name : c.taken) writeFile(folder() / name, "an earlier copy");
        if (c.readOnly) {
            fs::permissions(dir_.path(), fs::perms(0755));
            fs::permissions(dir_.path() / "config", fs::perms(0755));
            fs::permissions(folder(), fs::perms(0555));
        }
        const std::set<std::string> before = namesIn(folder());
        {
            std::optional<FilesAsNobody> nobody;
            if (c.readOnly) nobody.emplace();
            JsonSettingsStore store(file(), clock_);
            const auto kept = store.keepCopy("scenes");
            ASSERT_EQ(kept.has_value(), c.copy.has_value()) << (kept ? *kept : kept.error());
            if (!kept) {
                EXPECT_FALSE(kept.error().empty());
                if (c.readOnly) {
                    EXPECT_EQ(kept.error(), std::strerror(EACCES));
                }
            } else {
                EXPECT_EQ(*kept, *c.copy);
            }
        }
        fs::permissions(folder(), fs::perms(0755));
        // The settings are as they were; the copy is the only new file,
        // with no temporary left beside it.
        EXPECT_EQ(readFile(file()), text);
        std::set<std::string> expected = before;
        if (c.copy) expected.insert(*c.copy);
        EXPECT_EQ(namesIn(folder()), expected);
        for (const std::string& name : c.taken) EXPECT_EQ(readFile(folder() / name), "an earlier copy");
        if (!c.copy) continue;
        const std::string copyText = readFile(folder() / *c.copy);
        EXPECT_EQ(json::parse(copyText), json::parse(R"({"scenes": )" + c.member + "}"));
        EXPECT_EQ(fs::status(folder() / *c.copy).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        // It loads as settings, so the value can be put back by hand.
        EXPECT_EQ(JsonSettingsStore(folder() / *c.copy, clock_).contains("scenes"), true);
    }
}

TEST_F(JsonSettingsStoreTest, ACompactFileThatLoadedIsAlwaysSaved) {
    // Small numbers deep in nested lists: indenting puts each on a line of
    // its own, more than ten times as long as compact.
    std::string grid = std::string(10, '[');
    for (int i = 0; i < 200'000; ++i) grid += "1,";
    grid += "1" + std::string(10, ']');
    const std::string text =
        R"({"pairingIdentifier":"0123456789abcdef0123456789abcdef","grid":)" + grid + R"(,"welcomed":true})";
    ASSERT_LT(text.size(), JsonSettingsStore::kMaxFileBytes);
    ASSERT_GT(json::parse(text).dump(2).size(), JsonSettingsStore::kMaxFileBytes) << "the case needs it";
    writeFile(file(), text);

    LogCapture log;
    {
        JsonSettingsStore store(file(), clock_);
        store.set("videoCodec", std::string("H.264"));
    }
    EXPECT_TRUE(log.lines().empty()) << log.lines().front();
    EXPECT_LE(fs::file_size(file()), JsonSettingsStore::kMaxFileBytes);
    json expected = json::parse(text);
    expected["videoCodec"] = "H.264";
    EXPECT_EQ(json::parse(readFile(file())), expected);

    // Settings that fit indented are written indented again.
    {
        JsonSettingsStore store(file(), clock_);
        EXPECT_EQ(store.get<std::string>("videoCodec"), "H.264");
        store.remove("grid");
    }
    EXPECT_TRUE(log.lines().empty()) << log.lines().front();
    EXPECT_NE(readFile(file()).find("\n  \"pairingIdentifier\": "), std::string::npos) << readFile(file());
}

TEST(JsonSettingsStorePathTest, FollowsTheXdgConfigFolder) {
    struct Case {
        const char* home;
        const char* xdgConfigHome;  // nullptr: unset
        const char* expected;
    };
    const Case cases[] = {
        {"/home/ann", nullptr, "/home/ann/.config/lumenhollow/settings.json"},
        {"/home/ann", "", "/home/ann/.config/lumenhollow/settings.json"},
        {"/home/ann", "/srv/conf", "/srv/conf/lumenhollow/settings.json"},
        {"/home/ann", "relative/conf", "/home/ann/.config/lumenhollow/settings.json"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JsonSettingsStore::pathFor(c.home, c.xdgConfigHome ? c.xdgConfigHome : ""), c.expected);
        ScopedEnv home("HOME", c.home);
        ScopedEnv config("XDG_CONFIG_HOME", c.xdgConfigHome);
        EXPECT_EQ(JsonSettingsStore::defaultPath(), c.expected);
    }
}

}  // namespace
}  // namespace lumenhollow
