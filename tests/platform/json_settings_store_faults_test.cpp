#include "lumenhollow/platform/json_settings_store.h"

#include <gtest/gtest.h>

#include "json_settings_store_bench.h"

// Settings files the store cannot use, cannot open or cannot save, and
// values it cannot read: what is kept, moved aside, logged and refused.

namespace lumenhollow {
namespace {

using namespace settings_test;

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

}  // namespace
}  // namespace lumenhollow
