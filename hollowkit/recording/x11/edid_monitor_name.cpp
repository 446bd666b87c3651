#include "hollowkit/recording/x11/edid_monitor_name.h"

#include <algorithm>
#include <array>

namespace hollowkit {
namespace {

constexpr std::array<uint8_t, 8> kHeader{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr size_t kBaseBlockSize = 128;
constexpr size_t kFirstDescriptor = 54;
constexpr size_t kDescriptorSize = 18;
constexpr size_t kDescriptorCount = 4;
constexpr uint8_t kProductNameTag = 0xFC;
constexpr size_t kTextOffset = 5;
constexpr size_t kTextLength = 13;

}  // namespace

std::optional<std::string> edidMonitorName(ByteView edid) {
    if (edid.size() < kBaseBlockSize || !std::equal(kHeader.begin(), kHeader.end(), edid.begin())) {
        return std::nullopt;
    }
    for (size_t i = 0; i < kDescriptorCount; ++i) {
        const ByteView descriptor = edid.subspan(kFirstDescriptor + i * kDescriptorSize, kDescriptorSize);
        // A display descriptor starts with a zero pixel clock and a zero byte.
        if (descriptor[0] != 0 || descriptor[1] != 0 || descriptor[2] != 0) continue;
        if (descriptor[3] != kProductNameTag) continue;
        std::string name;
        for (uint8_t c : descriptor.subspan(kTextOffset, kTextLength)) {
            if (c == 0x0A) break;  // the text ends at a line feed, then spaces pad it
            if (c < 0x20 || c > 0x7E) return std::nullopt;
            name.push_back(static_cast<char>(c));
        }
        while (!name.empty() && name.back() == ' ') name.pop_back();
        while (!name.empty() && name.front() == ' ') name.erase(name.begin());
        if (name.empty()) return std::nullopt;
        return name;
    }
    return std::nullopt;
}

}  // namespace hollowkit
