// The saved scenes' reader on arbitrary bytes: it refuses or accepts without
// crashing, and whatever scenes it keeps write out and read again whole, to
// the same scenes and the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "lumenhollow/model/scene_store.h"

namespace {

std::string_view textOf(const hollowkit::Bytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto first = lumenhollow::decodeScenes(text);
    if (!first) return 0;
    const auto written = lumenhollow::encodeScenes(first->scenes);
    if (!written) std::abort();
    const auto second = lumenhollow::decodeScenes(textOf(*written));
    if (!second || !second->problems.empty() || second->scenes != first->scenes) std::abort();
    const auto rewritten = lumenhollow::encodeScenes(second->scenes);
    if (!rewritten || *rewritten != *written) std::abort();
    return 0;
}
