#include "lumenhollow/platform/file_uri.h"

#include <gtest/gtest.h>

namespace lumenhollow {
namespace {

TEST(FileUriTest, EncodesEveryByteOutsideTheUnreservedSet) {
    const struct {
        const char* path;
        const char* uri;
    } cases[] = {
        {"/home/ann/Videos/Lumenhollow", "file:///home/ann/Videos/Lumenhollow"},
        {"/tmp/Video 2024-05-01 at 10.00.00.mov", "file:///tmp/Video%202024-05-01%20at%2010.00.00.mov"},
        {"/tmp/a#b?c%d&e", "file:///tmp/a%23b%3Fc%25d%26e"},
        {"/tmp/caf\xC3\xA9", "file:///tmp/caf%C3%A9"},
        {"/tmp/a_b-c~d", "file:///tmp/a_b-c~d"},
        {"/tmp/./x/../y", "file:///tmp/y"},
        {"/tmp/quote\"and'tick", "file:///tmp/quote%22and%27tick"},
    };
    for (const auto& c : cases) EXPECT_EQ(fileUri(c.path), c.uri) << c.path;
}

TEST(FileUriTest, ARelativePathIsTakenFromTheCurrentFolder) {
    const std::string uri = fileUri("some file");
    EXPECT_EQ(uri.rfind("file:///", 0), 0u) << uri;
    EXPECT_TRUE(uri.ends_with("/some%20file")) << uri;
}

}  // namespace
}  // namespace lumenhollow
