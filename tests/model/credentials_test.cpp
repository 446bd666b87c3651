#include "lumenhollow/model/credentials.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "lumenhollow/testing/fake_secret_store.h"
#include "lumenhollow/testing/fake_secure_random.h"
#include "lumenhollow/testing/memory_settings_store.h"

namespace lumenhollow {
namespace {

constexpr const char* kService = "com.tarvenc.lumenhollow.home-wifi";

TEST(PairingIdentifierTest, AStored32CharacterAsciiValueIsKeptAndAnyOtherIsMadeAnew) {
    struct Case {
        const char* name;
        std::optional<SettingsValue> stored;
        bool kept;
    };
    const std::vector<Case> cases{
        {"absent", std::nullopt, false},
        {"32 hexadecimal digits", std::string("0123456789abcdef0123456789abcdef"), true},
        {"32 other ASCII characters", std::string(32, 'Z'), true},
        {"32 ASCII bytes with control characters", std::string(31, 'a') + '\t', true},
        {"31 characters", std::string(31, 'a'), false},
        {"33 characters", std::string(33, 'a'), false},
        {"empty", std::string(), false},
        {"32 bytes that are not ASCII", std::string(16, '\xC3') + std::string(16, 'a'), false},
        {"31 characters in 32 bytes", std::string("\xC3\xA9") + std::string(30, 'a'), false},
        {"a number", int64_t{12345678}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemorySettingsStore settings;
        if (c.stored) settings.set("pairingIdentifier", *c.stored);
        settings.clearWrites();
        FakeSecureRandom random(0xF0);
        const std::string first = pairingIdentifier(settings, random);
        EXPECT_EQ(pairingIdentifier(settings, random), first) << "stable once stored";
        if (c.kept) {
            EXPECT_EQ(SettingsValue(first), *c.stored);
            EXPECT_TRUE(settings.writes().empty());
            EXPECT_EQ(random.requests(), 0);
        } else {
            EXPECT_EQ(first, "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
            EXPECT_EQ(settings.writes(), (std::vector<SettingsWrite>{{"pairingIdentifier", first}}));
            EXPECT_EQ(random.requests(), 1);
        }
    }
}

TEST(HomeWiFiPasswordStoreTest, TheNetworkNeedsItsNameSetAndItsPasswordInTheKeyring) {
    using Entry = FakeSecretStore::Entry;
    struct Case {
        const char* name;
        std::optional<SettingsValue> ssid;
        std::vector<Entry> keyring;  // items holding the password "pass word"
        std::optional<hollowkit::HomeNetwork> expected;
        std::vector<Entry> lookups;
    };
    const std::vector<Case> cases{
        {"no name: the keyring is not asked", std::nullopt, {{kService, "Home"}}, std::nullopt, {}},
        {"name and password", std::string("Home"), {{kService, "Home"}}, hollowkit::HomeNetwork{"Home", "pass word"},
         {{kService, "Home"}}},
        {"name without a keyring item", std::string("Home"), {}, std::nullopt, {{kService, "Home"}}},
        {"the account is the exact name", std::string("Home"), {{kService, "home"}, {kService, "Home "}},
         std::nullopt, {{kService, "Home"}}},
        {"another service's item", std::string("Home"), {{"org.example.wifi", "Home"}}, std::nullopt,
         {{kService, "Home"}}},
        {"an empty name counts as set", std::string(), {{kService, ""}}, hollowkit::HomeNetwork{"", "pass word"},
         {{kService, ""}}},
        {"a name that is not text", true, {{kService, "Home"}}, std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemorySettingsStore settings;
        if (c.ssid) settings.set("homeNetworkSSID", *c.ssid);
        settings.clearWrites();
        FakeSecretStore secrets;
        for (const auto& [service, account] : c.keyring) secrets.store(service, account, "pass word");
        const HomeWiFiPasswordStore store(settings, secrets);
        EXPECT_EQ(store.load(), c.expected);
        EXPECT_EQ(secrets.lookups(), c.lookups);
        EXPECT_TRUE(settings.writes().empty());
    }
}

}  // namespace
}  // namespace lumenhollow
