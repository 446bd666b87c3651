// The typed reads every store shares, and the write log of the memory store
// the model's tests rely on.

#include "lumenhollow/platform/settings_store.h"

#include <gtest/gtest.h>

#include "lumenhollow/testing/memory_settings_store.h"

namespace lumenhollow {
namespace {

TEST(SettingsStoreTest, AValueOfAnotherTypeReadsAsTheCallersDefault) {
    MemorySettingsStore store({
        {"boolFalse", false},
        {"boolTrue", true},
        {"whole", int64_t{5}},
        {"fraction", 2.5},
        {"text", std::string("5")},
        {"no", std::string("NO")},
        {"texts", StringArray{"Grid"}},
        {"bytes", Bytes{1, 2}},
        {"url", Url{"file:///a"}},
    });
    // Reads as a Bool with the default true, as an integer with the default
    // 0, and so on; each expected value is either the stored one or the default.
    struct Case {
        const char* key;
        bool asBool;
        int64_t asInt;
        double asDouble;
        std::string asText;
    };
    const Case cases[] = {
        {"boolFalse", false, 0, -1.0, "default"},
        {"boolTrue", true, 0, -1.0, "default"},
        {"whole", true, 5, 5.0, "default"},
        {"fraction", true, 0, 2.5, "default"},
        {"text", true, 0, -1.0, "5"},
        {"no", true, 0, -1.0, "NO"},
        {"texts", true, 0, -1.0, "default"},
        {"bytes", true, 0, -1.0, "default"},
        {"url", true, 0, -1.0, "default"},
        {"absent", true, 0, -1.0, "default"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(store.get<bool>(c.key, true), c.asBool) << c.key;
        EXPECT_EQ(store.get<int64_t>(c.key, 0), c.asInt) << c.key;
        EXPECT_EQ(store.get<double>(c.key, -1.0), c.asDouble) << c.key;
        EXPECT_EQ(store.get<std::string>(c.key, "default"), c.asText) << c.key;
    }
    EXPECT_EQ(store.get<StringArray>("texts"), StringArray{"Grid"});
    EXPECT_EQ(store.get<StringArray>("text"), std::nullopt);
    EXPECT_EQ(store.get<Bytes>("bytes"), (Bytes{1, 2}));
    EXPECT_EQ(store.get<Bytes>("texts"), std::nullopt);
    EXPECT_EQ(store.get<Url>("url"), Url{"file:///a"});
    EXPECT_EQ(store.get<Url>("text"), std::nullopt);
}

TEST(SettingsStoreTest, LiteralsAreStoredWithTheirOwnType) {
    MemorySettingsStore store;
    store.set("text", "Grid");
    store.set("whole", 3);
    store.set("flag", true);
    EXPECT_EQ(store.value("text"), SettingsValue(std::string("Grid")));
    EXPECT_EQ(store.value("whole"), SettingsValue(int64_t{3}));
    EXPECT_EQ(store.value("flag"), SettingsValue(true));
}

TEST(MemorySettingsStoreTest, LogsEveryWriteInOrderAndNoRead) {
    MemorySettingsStore store({{"stored", std::string("before")}});
    EXPECT_EQ(store.get<std::string>("stored"), "before");
    EXPECT_EQ(store.get<bool>("absent", true), true);
    EXPECT_TRUE(store.writes().empty());

    store.set("bubbleCorner", "Top Left");
    store.set("bubbleSize", "Large");
    store.set("bubbleCorner", "Top Left");  // the same value again is still a write
    store.remove("stored");
    store.remove("neverStored");
    const std::vector<SettingsWrite> expected = {
        {"bubbleCorner", SettingsValue(std::string("Top Left"))},
        {"bubbleSize", SettingsValue(std::string("Large"))},
        {"bubbleCorner", SettingsValue(std::string("Top Left"))},
        {"stored", std::nullopt},
        {"neverStored", std::nullopt},
    };
    EXPECT_EQ(store.writes(), expected);
    EXPECT_EQ(store.writtenKeys(),
              (std::vector<std::string>{"bubbleCorner", "bubbleSize", "bubbleCorner", "stored", "neverStored"}));
    EXPECT_EQ(store.value("stored"), std::nullopt);

    store.clearWrites();
    EXPECT_TRUE(store.writes().empty());
    EXPECT_EQ(store.get<std::string>("bubbleSize"), "Large");
}

}  // namespace
}  // namespace lumenhollow
