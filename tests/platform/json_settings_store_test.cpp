#include "lumenhollow/platform/json_settings_store.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/manual_clock.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/platform/base64.h"
#include "lumenhollow/testing/file_test_support.h"

namespace lumenhollow {
namespace {

namespace fs = std::filesystem;
using hollowkit::ManualClock;
using hollowkit::testsupport::LogCapture;
using hollowkit::testsupport::TempDir;
using nlohmann::json;
using test::FilesAsNobody;
using test::ScopedEnv;

// ManualClock's calendar start, 2024-05-01 12:00:00, read in UTC.
constexpr const char* kAsideName = "settings.json.corrupt-20240501-120000";

void writeFile(const fs::path& path, std::string_view text, fs::perms perms = fs::perms(0644)) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    fs::permissions(path, perms);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// Every path below `folder`, relative to it.
std::set<std::string> treeOf(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        names.insert(entry.path().lexically_relative(folder).string());
    }
    return names;
}

// Bytes this process has read so far, through any call.
uint64_t bytesReadByProcess() {
    std::ifstream io("/proc/self/io");
    std::string name;
    uint64_t value = 0;
    while (io >> name >> value) {
        if (name == "rchar:") return value;
    }
    return 0;
}

// A Unix socket at `path`, as a careless script could leave in a file's place.
void makeSocket(const fs::path& path) {
    fs::create_directories(path.parent_path());
    hollowkit::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.native().size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
}

// While this lives, opening anything fails with EMFILE: the soft limit on
// descriptors sits at the lowest free one.
class DescriptorsUsedUp {
public:
    DescriptorsUsedUp() {
        ::getrlimit(RLIMIT_NOFILE, &old_);
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(lowestFree);
        rlimit limit = old_;
        limit.rlim_cur = static_cast<rlim_t>(lowestFree);
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    ~DescriptorsUsedUp() { ::setrlimit(RLIMIT_NOFILE, &old_); }
    DescriptorsUsedUp(const DescriptorsUsedUp&) = delete;
    DescriptorsUsedUp& operator=(const DescriptorsUsedUp&) = delete;

private:
    rlimit old_{};
};

class JsonSettingsStoreTest : public ::testing::Test {
protected:
    fs::path folder() const { return dir_.path() / "config" / "lumenhollow"; }
    fs::path file() const { return folder() / "settings.json"; }

    ScopedEnv timeZone_{"TZ", "UTC"};
    TempDir dir_;
    ManualClock clock_;
};

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

TEST_F(JsonSettingsStoreTest, AFileThatCannotBeUsedIsMovedAsideAndTheStoreStartsEmpty) {
    const uint64_t limit = JsonSettingsStore::kMaxFileBytes;
    // A JSON object with one text member, `size` bytes long in all.
    auto objectOfSize = [](uint64_t size) { return R"({"a":")" + std::string(size - 8, 'x') + R"("})"; };
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
        const char* reason;
    };
    const Case cases[] = {
        {"not JSON", [](const fs::path& f) { writeFile(f, R"({"welcomed": tru)"); }, "is damaged (not JSON"},
        {"empty", [](const fs::path& f) { writeFile(f, ""); }, "is damaged (not JSON"},
        {"a byte outside any text", [](const fs::path& f) { writeFile(f, "{\"ssid\": caf\xe9}"); },
         "is damaged (not JSON"},
        {"an array", [](const fs::path& f) { writeFile(f, R"(["welcomed", true])"); }, "the top level is array"},
        {"a string", [](const fs::path& f) { writeFile(f, R"("welcomed")"); }, "the top level is string"},
        {"too deep", [](const fs::path& f) { writeFile(f, "{\"a\":" + std::string(100, '[')); }, "nested deeper"},
        {"one byte over the limit", [&](const fs::path& f) { writeFile(f, objectOfSize(limit + 1)); },
         "larger than 4194304 bytes"},
        {"a directory", [](const fs::path& f) { fs::create_directories(f / "inside"); }, "not a regular file"},
        // Opening a socket fails, but not because of the file's permissions.
        {"a socket", [](const fs::path& f) { makeSocket(f); }, "not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder());
        c.make(file());
        const bool regular = fs::is_regular_file(file());
        const std::string before = regular ? readFile(file()) : "";

        LogCapture log;
        JsonSettingsStore store(file(), clock_);
        EXPECT_EQ(store.value("a"), std::nullopt);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_NE(log.lines()[0].find(c.reason), std::string::npos) << log.lines()[0];
        EXPECT_NE(log.lines()[0].find(std::string("moved it to ") + kAsideName), std::string::npos)
            << log.lines()[0];
        EXPECT_EQ(namesIn(folder()), std::set<std::string>{kAsideName});
        if (regular) {
            EXPECT_EQ(readFile(folder() / kAsideName), before);
        }

        // The next write starts a new file and leaves the refused one alone.
        store.set("welcomed", true);
        EXPECT_EQ(json::parse(readFile(file())), json::parse(R"({"welcomed": true})"));
        EXPECT_EQ(namesIn(folder()), (std::set<std::string>{"settings.json", kAsideName}));
    }
}

TEST_F(JsonSettingsStoreTest, AHugeFileIsRefusedWithoutBeingRead) {
    // 50 MB, sparse, so making it costs nothing either.
    fs::create_directories(folder());
    {
        std::ofstream(file()) << "{}";
    }
    fs::resize_file(file(), 50'000'000);
    LogCapture log;
    const uint64_t readBefore = bytesReadByProcess();
    JsonSettingsStore store(file(), clock_);
    EXPECT_LT(bytesReadByProcess() - readBefore, 64u * 1024);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("larger than"), std::string::npos) << log.lines()[0];
    EXPECT_EQ(fs::file_size(folder() / kAsideName), 50'000'000u);
}

TEST_F(JsonSettingsStoreTest, AFileAtTheSizeLimitIsRead) {
    const uint64_t limit = JsonSettingsStore::kMaxFileBytes;
    writeFile(file(), R"({"a":")" + std::string(limit - 8, 'x') + R"("})");
    ASSERT_EQ(fs::file_size(file()), limit);
    LogCapture log;
    JsonSettingsStore store(file(), clock_);
    EXPECT_EQ(store.get<std::string>("a").value_or("").size(), limit - 8);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(JsonSettingsStoreTest, ARefusedFileNeverReplacesAnEarlierOne) {
    writeFile(file(), "first");
    { JsonSettingsStore first(file(), clock_); }
    writeFile(file(), "second");
    { JsonSettingsStore second(file(), clock_); }
    EXPECT_EQ(readFile(folder() / kAsideName), "first");
    EXPECT_EQ(readFile(folder() / (std::string(kAsideName) + "-2")), "second");
}

TEST_F(JsonSettingsStoreTest, AWriteThatCannotBeSavedIsLoggedAndStillReadsBack) {
    const std::string good = R"({"welcomed": true})";
    struct Case {
        const char* name;
        std::function<fs::path()> make;  // returns the settings file
    };
    const Case cases[] = {
        {"read-only folder",
         [&] {
             writeFile(file(), good);
             fs::permissions(dir_.path(), fs::perms(0755));
             fs::permissions(dir_.path() / "config", fs::perms(0755));
             fs::permissions(folder(), fs::perms(0555));
             return file();
         }},
        {"folder path through a file",
         [&] {
             writeFile(dir_.path() / "plain", "not a folder");
             return dir_.path() / "plain" / "lumenhollow" / "settings.json";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = c.make();
        const auto treeBefore = treeOf(dir_.path());
        {
            FilesAsNobody nobody;
            LogCapture log;
            JsonSettingsStore store(path, clock_);
            // Each write says it was not saved, and why, for the user.
            const SettingsSaveResult set = store.set("recordScreen", true);
            const SettingsSaveResult removed = store.remove("welcomed");
            ASSERT_FALSE(set.saved());
            ASSERT_FALSE(removed.saved());
            EXPECT_NE(set.failure->find(std::strerror(std::string_view(c.name) == "read-only folder" ? EACCES : ENOTDIR)),
                      std::string::npos)
                << *set.failure;
            EXPECT_EQ(removed.failure, set.failure);
            EXPECT_EQ(store.get<bool>("recordScreen"), true);
            EXPECT_EQ(store.get<bool>("welcomed"), std::nullopt);
            ASSERT_EQ(log.lines().size(), 2u);
            EXPECT_NE(log.lines()[0].find("\"recordScreen\" not saved"), std::string::npos) << log.lines()[0];
            EXPECT_NE(log.lines()[1].find("\"welcomed\" not saved"), std::string::npos) << log.lines()[1];
        }
        EXPECT_EQ(treeOf(dir_.path()), treeBefore);
        if (fs::exists(path)) {
            EXPECT_EQ(readFile(path), good);
        }
        fs::permissions(folder().parent_path(), fs::perms(0755));
        if (fs::exists(folder())) fs::permissions(folder(), fs::perms(0755));
    }
}

TEST_F(JsonSettingsStoreTest, SettingsTooLargeToSaveLeaveTheLastGoodFile) {
    LogCapture log;
    JsonSettingsStore store(file(), clock_);
    EXPECT_TRUE(store.set("welcomed", true).saved());
    const std::string good = readFile(file());
    // Base64 makes 3.5 MiB of bytes about 4.7 MiB of text.
    const Bytes big(3 * 1024 * 1024 + 512 * 1024, 0x5a);
    EXPECT_EQ(store.set("scenes", big).failure, "they would take more than 4 MB");
    EXPECT_EQ(store.get<Bytes>("scenes"), big);
    EXPECT_EQ(readFile(file()), good);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("\"scenes\" not saved"), std::string::npos) << log.lines()[0];

    // Removing it makes the settings fit again.
    EXPECT_TRUE(store.remove("scenes").saved());
    EXPECT_EQ(JsonSettingsStore(file(), clock_).get<bool>("welcomed"), true);
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST_F(JsonSettingsStoreTest, AValueTooLargeToSaveKeepsOnlyItselfOutOfTheFile) {
    writeFile(file(), R"({"scenes": {"$data": "W10="}, "foreign": [1, {"x": null}], "welcomed": false})");
    const Bytes big(3 * 1024 * 1024 + 512 * 1024, 0x5a);
    LogCapture log;
    {
        JsonSettingsStore store(file(), clock_);
        store.set("scenes", big);
        store.set("foreign", std::string("a text now"));
        store.set("welcomed", true);
        store.set("recordCountdown", int64_t{3});
        EXPECT_EQ(store.get<Bytes>("scenes"), big) << "still read back";
    }
    ASSERT_EQ(log.lines().size(), 1u) << ::testing::PrintToString(log.lines());
    EXPECT_NE(log.lines()[0].find("\"scenes\" not saved"), std::string::npos) << log.lines()[0];
    EXPECT_EQ(json::parse(readFile(file())),
              json::parse(R"({"scenes": {"$data": "W10="}, "foreign": "a text now",
                              "welcomed": true, "recordCountdown": 3})"));

    // Set again at a size that fits, it is saved like any other value.
    {
        JsonSettingsStore store(file(), clock_);
        store.set("scenes", big);
        store.set("scenes", Bytes{1, 2, 3});
    }
    EXPECT_EQ(JsonSettingsStore(file(), clock_).get<Bytes>("scenes"), (Bytes{1, 2, 3}));
}

TEST_F(JsonSettingsStoreTest, AFileThatCannotBeOpenedIsLeftAsItIsAllSession) {
    const std::string good = R"({"pairingIdentifier": "0123456789abcdef0123456789abcdef", "welcomed": true})";
    struct Case {
        const char* name;
        fs::perms perms;
        bool usedUp;  // no descriptor left, else no permission
        int error;
    };
    const Case cases[] = {
        {"no permission", fs::perms::none, false, EACCES},
        {"no descriptor left", fs::perms(0600), true, EMFILE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder());
        writeFile(file(), good, c.perms);
        // Only the file itself is out of reach.
        for (const fs::path& above : {dir_.path(), dir_.path() / "config", folder()}) {
            fs::permissions(above, fs::perms(0755));
        }
        LogCapture log;
        std::optional<JsonSettingsStore> store;
        {
            // Root reads any file; nobody cannot read this one.
            std::optional<FilesAsNobody> nobody;
            std::optional<DescriptorsUsedUp> usedUp;
            if (c.usedUp) {
                usedUp.emplace();
            } else {
                nobody.emplace();
            }
            store.emplace(file(), clock_);
        }
        ASSERT_EQ(log.lines().size(), 1u);
        const std::string line = log.lines()[0];
        EXPECT_NE(line.find(std::string("cannot be opened (") + std::strerror(c.error) + ")"), std::string::npos)
            << line;
        EXPECT_NE(line.find("nothing is saved"), std::string::npos) << line;
        EXPECT_EQ(store->value("welcomed"), std::nullopt);

        // Now that a write could reach the file, none does: the settings
        // live in memory only.
        EXPECT_EQ(store->set("pairingIdentifier", std::string("ffffffffffffffffffffffffffffffff")).failure,
                  "the file could not be read at the start");
        EXPECT_FALSE(store->remove("welcomed").saved());
        EXPECT_EQ(store->get<std::string>("pairingIdentifier"), "ffffffffffffffffffffffffffffffff");
        EXPECT_EQ(log.lines().size(), 1u);
        store.reset();
        EXPECT_EQ(namesIn(folder()), std::set<std::string>{"settings.json"});
        fs::permissions(file(), fs::perms(0600));
        EXPECT_EQ(readFile(file()), good);
        EXPECT_EQ(JsonSettingsStore(file(), clock_).get<std::string>("pairingIdentifier"),
                  "0123456789abcdef0123456789abcdef");
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

TEST_F(JsonSettingsStoreTest, AFileWhoseSettingsWouldNotFitOnceWrittenIsRefusedAtTheStart) {
    // 1E14 is four bytes here and "100000000000000.0" once written back.
    std::string numbers = "[";
    for (int i = 0; i < 260'000; ++i) numbers += "1E14,";
    numbers += "1]";
    writeFile(file(), R"({"welcomed": true, "n": )" + numbers + "}");
    ASSERT_LT(fs::file_size(file()), JsonSettingsStore::kMaxFileBytes);

    LogCapture log;
    JsonSettingsStore store(file(), clock_);
    EXPECT_EQ(store.value("welcomed"), std::nullopt);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("once written, more than 4194304"), std::string::npos) << log.lines()[0];
    EXPECT_EQ(namesIn(folder()), std::set<std::string>{kAsideName});
}

TEST_F(JsonSettingsStoreTest, ANumberTooLargeToReadCostsOnlyItsKey) {
    const std::string digits(100'000, '4');
    writeFile(file(), R"({"pairingIdentifier": "0123456789abcdef0123456789abcdef", "recordCountdown": )" + digits +
                          R"(, "zoom": 1e400, "autoZoom": false})");
    LogCapture log;
    {
        JsonSettingsStore store(file(), clock_);
        EXPECT_EQ(store.get<std::string>("pairingIdentifier"), "0123456789abcdef0123456789abcdef");
        EXPECT_EQ(store.get<bool>("autoZoom"), false);
        EXPECT_EQ(store.get<int64_t>("recordCountdown", 0), 0);
        EXPECT_EQ(store.get<double>("zoom"), std::nullopt);
        store.set("welcomed", true);
    }
    ASSERT_EQ(log.lines().size(), 1u);
    const std::string line = log.lines()[0];
    EXPECT_LT(line.size(), 400u) << "the digits are not repeated";
    EXPECT_NE(line.find("2 setting(s) held a number too large to read (first \"recordCountdown\": 4444"),
              std::string::npos)
        << line;
    EXPECT_EQ(namesIn(folder()), std::set<std::string>{"settings.json"});
    EXPECT_EQ(json::parse(readFile(file())),
              json::parse(R"({"pairingIdentifier": "0123456789abcdef0123456789abcdef", "recordCountdown": null,
                              "zoom": null, "autoZoom": false, "welcomed": true})"));
}

// A network name typed in Latin-1 by hand costs that name alone: the
// camera stays paired and the welcome is not shown again.
TEST_F(JsonSettingsStoreTest, ABadByteInOneValueCostsOnlyThatValue) {
    writeFile(file(), "{\n  \"pairingIdentifier\": \"0123456789abcdef0123456789abcdef\",\n"
                      "  \"homeNetworkSSID\": \"Caf\xe9 WLAN\",\n  \"welcomed\": true,\n"
                      "  \"lastScreenTake\": {\"$url\": \"file:///tmp/take%00.mov\"},\n  \"autoZoom\": false\n}\n");
    LogCapture log;
    {
        JsonSettingsStore store(file(), clock_);
        EXPECT_EQ(store.get<std::string>("pairingIdentifier"), "0123456789abcdef0123456789abcdef");
        EXPECT_EQ(store.get<bool>("welcomed"), true);
        EXPECT_EQ(store.get<bool>("autoZoom"), false);
        EXPECT_EQ(store.value("homeNetworkSSID"), std::nullopt);
        EXPECT_EQ(store.value("lastScreenTake"), std::nullopt);
        store.set("zoom", 1.5);
    }
    EXPECT_EQ(namesIn(folder()), std::set<std::string>{"settings.json"});
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_NE(log.lines()[0].find("1 setting(s) held text that is not UTF-8 or holds control characters (first "
                                  "\"homeNetworkSSID\": "),
              std::string::npos)
        << log.lines()[0];
    EXPECT_NE(log.lines()[1].find("1 location(s) hold a NUL byte (%00), which no path can hold (\"lastScreenTake\")"),
              std::string::npos)
        << log.lines()[1];
    EXPECT_EQ(json::parse(readFile(file())),
              json::parse(R"({"pairingIdentifier": "0123456789abcdef0123456789abcdef", "welcomed": true,
                              "lastScreenTake": {"$url": "file:///tmp/take%00.mov"}, "autoZoom": false,
                              "zoom": 1.5})"));
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
