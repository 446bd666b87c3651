#include "lumenhollow/platform/settings_value.h"

#include <gtest/gtest.h>

namespace lumenhollow {
namespace {

TEST(UrlTest, FilePathsBecomePercentEncodedFileUrlsAndBack) {
    struct Case {
        std::string path;
        std::string url;
    };
    const Case cases[] = {
        {"/home/ann/Videos/Lumenhollow", "file:///home/ann/Videos/Lumenhollow"},
        {"/home/ann/My Videos/take 1", "file:///home/ann/My%20Videos/take%201"},
        {"/tmp/100%/a#b?c", "file:///tmp/100%25/a%23b%3Fc"},
        {"/tmp/caf\xc3\xa9", "file:///tmp/caf%C3%A9"},
        {"/tmp/not-utf8-\xff", "file:///tmp/not-utf8-%FF"},
    };
    for (const Case& c : cases) {
        const Url url = Url::fromPath(c.path);
        EXPECT_EQ(url.text, c.url);
        EXPECT_EQ(url.path(), std::filesystem::path(c.path)) << c.url;
    }
}

TEST(UrlTest, OnlyLocalFileUrlsHaveAPath) {
    struct Case {
        const char* url;
        std::optional<std::filesystem::path> path;
    };
    const Case cases[] = {
        {"file://localhost/srv/a", std::filesystem::path("/srv/a")},
        {"file:///srv/caf%c3%a9", std::filesystem::path("/srv/caf\xc3\xa9")},
        {"file://server/srv/a", std::nullopt},
        {"http://example.invalid/a", std::nullopt},
        {"/srv/a", std::nullopt},
        {"file:///srv/a%2", std::nullopt},
        {"file:///srv/a%zz", std::nullopt},
        {"file://", std::nullopt},
        {"file:///srv/a%00b", std::nullopt},
        {"file:///srv/%00", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(Url{c.url}.path(), c.path) << c.url;
}

}  // namespace
}  // namespace lumenhollow
