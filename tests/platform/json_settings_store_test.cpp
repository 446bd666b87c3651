#include "lumenhollow/platform/json_settings_store.h"

#include <gtest/gtest.h>

#include <sys/inotify.h>

#include <string>
#include <utility>
#include <vector>

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

// The settings folder removed while the program runs: the next write makes
// it again, holding every setting, not only the one just changed.
TEST_F(JsonSettingsStoreTest, AWriteAfterTheFolderWasRemovedMakesItAgainWithEverySetting) {
    JsonSettingsStore store(file(), clock_);
    ASSERT_TRUE(store.set("welcomed", true).saved());
    fs::remove_all(folder());
    ASSERT_TRUE(store.set("zoom", 2.0).saved());
    JsonSettingsStore relaunched(file(), clock_);
    EXPECT_EQ(relaunched.value("welcomed"), SettingsValue(true));
    EXPECT_EQ(relaunched.value("zoom"), SettingsValue(2.0));
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

// A settings file kept elsewhere and linked in (as dotfile managers do) is
// written where its links lead, every link staying as it is, also when no
// file is there yet; where the file cannot be written there, the write says
// why and changes nothing.
TEST_F(JsonSettingsStoreTest, ALinkedSettingsFileIsWrittenWhereItsLinksLead) {
    const fs::path dotfiles = dir_.path() / "dotfiles";
    struct Case {
        const char* name;
        // Each link beside the settings (its name in folder()) and what it holds.
        std::vector<std::pair<std::string, std::string>> links;
        std::optional<std::string> before;  // the linked file's text; nothing: absent
        bool readOnly = false;              // dotfiles/ cannot be written
        // Nothing: saved into dotfiles/settings.json; else part of why not.
        std::optional<std::string> failure = std::nullopt;
    };
    const std::vector<Case> cases{
        {"a linked file", {{"settings.json", "../../dotfiles/settings.json"}}, R"({"welcomed": true})"},
        {"a link whose file is not there yet", {{"settings.json", "../../dotfiles/settings.json"}}, std::nullopt},
        {"a link to a link to no file yet",
         {{"settings.json", "next.json"}, {"next.json", (dotfiles / "settings.json").string()}}, std::nullopt},
        {"a link into a folder that is not there", {{"settings.json", "../../gone/settings.json"}}, std::nullopt,
         false, std::strerror(ENOENT)},
        {"a link into a folder that cannot be written", {{"settings.json", "../../dotfiles/settings.json"}},
         std::nullopt, true, std::strerror(EACCES)},
        {"links that go round", {{"settings.json", "round.json"}, {"round.json", "settings.json"}}, std::nullopt,
         false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_.path() / "config");
        fs::remove_all(dotfiles);
        fs::create_directories(folder());
        fs::create_directories(dotfiles);
        if (c.before) writeFile(dotfiles / "settings.json", *c.before);
        for (const auto& [link, to] : c.links) fs::create_symlink(to, folder() / link);
        if (c.readOnly) {
            fs::permissions(dir_.path(), fs::perms(0755));
            fs::permissions(dir_.path() / "config", fs::perms(0755));
            fs::permissions(dotfiles, fs::perms(0555));
        }
        const std::set<std::string> treeBefore = treeOf(dir_.path());
        LogCapture log;
        {
            std::optional<FilesAsNobody> nobody;
            if (c.readOnly) nobody.emplace();
            JsonSettingsStore store(file(), clock_);
            const SettingsSaveResult saved = store.set("recordScreen", true);
            EXPECT_EQ(saved.saved(), !c.failure) << saved.failure.value_or("");
            if (c.failure && saved.failure) {
                EXPECT_NE(saved.failure->find(*c.failure), std::string::npos) << *saved.failure;
            }
            EXPECT_EQ(store.get<bool>("recordScreen"), true);
        }
        fs::permissions(dotfiles, fs::perms(0755));
        for (const auto& [link, to] : c.links) {
            EXPECT_TRUE(fs::is_symlink(folder() / link)) << link;
            EXPECT_EQ(fs::read_symlink(folder() / link), to) << link;
        }
        std::set<std::string> expected = treeBefore;
        if (c.failure) {
            EXPECT_EQ(treeOf(dir_.path()), expected) << "nothing written";
            EXPECT_FALSE(log.lines().empty()) << "a failure is logged";
            continue;
        }
        expected.insert("dotfiles/settings.json");
        EXPECT_EQ(treeOf(dir_.path()), expected) << "only the linked file, and no temporary";
        json written = c.before ? json::parse(*c.before) : json::object();
        written["recordScreen"] = true;
        EXPECT_EQ(json::parse(readFile(dotfiles / "settings.json")), written);
        EXPECT_EQ(fs::status(dotfiles / "settings.json").permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(JsonSettingsStore(file(), clock_).get<bool>("recordScreen"), true) << "read back through the link";
    }
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

// A value copied again at each launch (its settings cannot be written) is
// kept once: no copy is written while the newest copy of the key, by the
// time and number in its name, holds the same bytes.
TEST_F(JsonSettingsStoreTest, NoCopyIsWrittenWhileTheNewestCopyHoldsTheSameBytes) {
    constexpr const char* kCopyName = "settings.json.scenes-20240501-120000";
    const std::string earlier = "settings.json.scenes-20240430-090000";
    constexpr const char* kSame = "";  // stands for the bytes a copy of the value holds
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;  // beside the settings, with their text
        std::string copy;  // the name keepCopy returns
    };
    const std::vector<Case> cases{
        {"the same bytes", {{earlier, kSame}}, earlier},
        {"other bytes (edited by hand)", {{earlier, R"({"scenes": [2]})"}}, kCopyName},
        {"the same bytes in an older copy only",
         {{earlier, kSame}, {"settings.json.scenes-20240430-100000", "{}"}}, kCopyName},
        {"the newest of one second", {{earlier, "{}"}, {earlier + "-2", kSame}}, earlier + "-2"},
        {"-10 comes after -9", {{earlier + "-9", kSame}, {earlier + "-10", "{}"}}, kCopyName},
        {"a name of another shape", {{earlier + ".bak", kSame}, {earlier + "-0", kSame}}, kCopyName},
        {"another key's copy", {{"settings.json.customLUTPaths-20240430-090000", kSame}}, kCopyName},
    };
    writeFile(file(), R"({"welcomed": true, "scenes": [1]})");
    const std::string same = [&] {
        JsonSettingsStore store(file(), clock_);
        const auto kept = store.keepCopy("scenes");
        EXPECT_TRUE(kept.has_value());
        const std::string text = readFile(folder() / kCopyName);
        fs::remove(folder() / kCopyName);
        return text;
    }();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::string& name : namesIn(folder())) {
            if (name != "settings.json") fs::remove(folder() / name);
        }
        std::set<std::string> expected = namesIn(folder());
        for (const auto& [name, text] : c.files) {
            writeFile(folder() / name, text.empty() ? same : text, fs::perms(0600));
            expected.insert(name);
        }
        JsonSettingsStore store(file(), clock_);
        const auto kept = store.keepCopy("scenes");
        ASSERT_TRUE(kept.has_value()) << kept.error();
        EXPECT_EQ(*kept, c.copy);
        expected.insert(c.copy);
        EXPECT_EQ(namesIn(folder()), expected);
        EXPECT_EQ(readFile(folder() / c.copy), same);
    }
}

// A kept copy is written whole before it has any name, then named by one
// link that replaces nothing: the folder sees one new name, the copy's, and
// nothing else, so a crash at any moment leaves the whole copy or nothing.
TEST_F(JsonSettingsStoreTest, AKeptCopyAppearsWholeUnderItsNameInOneStep) {
    constexpr const char* kCopyName = "settings.json.scenes-20240501-120000";
    struct Case {
        const char* name;
        bool taken;  // a copy of this second is there already
    };
    for (const Case& c : {Case{"a new name", false}, Case{"the next free name", true}}) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder());
        writeFile(file(), R"({"scenes": [1]})");
        if (c.taken) writeFile(folder() / kCopyName, "an earlier copy");
        JsonSettingsStore store(file(), clock_);
        // What happens to the names in the folder, in order.
        hollowkit::UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        ASSERT_TRUE(watch);
        ASSERT_GE(::inotify_add_watch(watch.get(), folder().c_str(),
                                      IN_CREATE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_CLOSE_WRITE),
                  0);
        const auto kept = store.keepCopy("scenes");
        ASSERT_TRUE(kept.has_value()) << kept.error();
        EXPECT_EQ(*kept, c.taken ? std::string(kCopyName) + "-2" : kCopyName);

        std::vector<std::pair<uint32_t, std::string>> events;
        alignas(inotify_event) char buffer[16 * 1024];
        for (ssize_t n; (n = ::read(watch.get(), buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                events.emplace_back(event->mask & (IN_CREATE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_CLOSE_WRITE),
                                    event->len > 0 ? std::string(event->name) : std::string());
                at += sizeof(inotify_event) + event->len;
            }
        }
        // The unnamed file's own close may be told too, under a name of the
        // kernel's that never stands in the folder.
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events[0], std::make_pair(static_cast<uint32_t>(IN_CREATE), *kept))
            << ::testing::PrintToString(events);
        for (const auto& [mask, name] : events) {
            EXPECT_TRUE(mask == IN_CLOSE_WRITE || (mask == IN_CREATE && name == *kept))
                << ::testing::PrintToString(events);
        }
        EXPECT_EQ(json::parse(readFile(folder() / *kept)), json::parse(readFile(file()))) << "the copy is whole";
        if (c.taken) {
            EXPECT_EQ(readFile(folder() / kCopyName), "an earlier copy");
        }
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
