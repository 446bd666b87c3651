// Fuzz target for lookup-table pictures held in memory: the header sniffing,
// the size check before decoding, OpenCV's decoders and the layout rules.
// Any bytes either give a table the engine accepts or a load error.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "hollowkit/imaging/color_lut.h"
#include "hollowkit/imaging/lut_engine.h"

using namespace hollowkit;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto lut = ColorLUT::decodeImage(ByteView(data, size), "/fuzz.png", "fuzz");
    if (!lut) {
        check(!lut.error().userMessage().empty());
        return 0;
    }
    const int n = lut->dimension;
    check(n >= ColorLUT::kMinDimension && n <= ColorLUT::kMaxDimension);
    check(lut->rgba.size() == static_cast<size_t>(n) * n * n * 4);
    for (float v : lut->rgba) check(v >= 0.0f && v <= 1.0f);
    check(LutEngine::prepare(*lut) != nullptr);
    return 0;
}
