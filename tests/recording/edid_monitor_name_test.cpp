#include "hollowkit/recording/x11/edid_monitor_name.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace hollowkit {
namespace {

// One 18-byte descriptor of an EDID base block.
struct Descriptor {
    bool display = true;  // a display descriptor (zero pixel clock), else a detailed timing
    uint8_t tag = 0xFC;
    std::string text;     // as stored, padding included
};

// A 128-byte base block with its header and these descriptors from byte 54.
std::vector<uint8_t> edidBlock(const std::vector<Descriptor>& descriptors) {
    std::vector<uint8_t> block(128, 0);
    const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(std::begin(header), std::end(header), block.begin());
    for (size_t i = 0; i < descriptors.size(); ++i) {
        uint8_t* d = &block[54 + i * 18];
        if (!descriptors[i].display) d[0] = 0x3A;  // a pixel clock: a timing, not text
        d[3] = descriptors[i].tag;
        for (size_t c = 0; c < descriptors[i].text.size() && c < 13; ++c) d[5 + c] = descriptors[i].text[c];
    }
    return block;
}

TEST(EdidMonitorNameTest, TheNameDescriptorIsFoundAndTrimmed) {
    const Descriptor serial{true, 0xFF, "SN0001\n      "};
    const struct {
        const char* name;
        std::vector<Descriptor> descriptors;
        std::optional<std::string> expected;
    } cases[] = {
        {"line feed, then spaces", {{true, 0xFC, "DELL U2720Q\n "}}, "DELL U2720Q"},
        {"all thirteen characters", {{true, 0xFC, "ABCDEFGHIJKLM"}}, "ABCDEFGHIJKLM"},
        {"after a serial number", {serial, {true, 0xFC, "Studio\n      "}}, "Studio"},
        {"spaces around the name", {{true, 0xFC, "  Side  \n    "}}, "Side"},
        {"no name descriptor", {serial}, std::nullopt},
        {"only spaces", {{true, 0xFC, "     \n       "}}, std::nullopt},
        {"a control character", {{true, 0xFC, "Bad\x01Name\n    "}}, std::nullopt},
        {"a byte beyond ASCII", {{true, 0xFC, "Caf\xE9\n        "}}, std::nullopt},
        {"the tag on a detailed timing", {{false, 0xFC, "Timing\n      "}}, std::nullopt},
        {"a name in the last of four", {serial, serial, serial, {true, 0xFC, "Fourth\n      "}}, "Fourth"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> block = edidBlock(c.descriptors);
        EXPECT_EQ(edidMonitorName(ByteView(block.data(), block.size())), c.expected);
    }
}

TEST(EdidMonitorNameTest, WhatIsNotABaseBlockHasNoName) {
    const std::vector<uint8_t> named = edidBlock({{true, 0xFC, "Monitor\n     "}});
    std::vector<uint8_t> badHeader = named;
    badHeader[1] = 0x00;
    const std::vector<uint8_t> shortBlock(named.begin(), named.end() - 1);
    std::vector<uint8_t> withExtension = named;
    withExtension.resize(256, 0);
    EXPECT_EQ(edidMonitorName(ByteView(badHeader.data(), badHeader.size())), std::nullopt);
    EXPECT_EQ(edidMonitorName(ByteView(shortBlock.data(), shortBlock.size())), std::nullopt);
    EXPECT_EQ(edidMonitorName(ByteView()), std::nullopt);
    // An extension block after the base block changes nothing.
    EXPECT_EQ(edidMonitorName(ByteView(withExtension.data(), withExtension.size())),
              std::optional<std::string>("Monitor"));
}

}  // namespace
}  // namespace hollowkit
