// Fuzz target for the ".cube" reader: any text either loads as a table the
// engine accepts, or fails with a load error; no crash, no unbounded memory.
// A table that loads is refused once the memory allowed is one byte short.
// A loaded table is also run over a few pixels, so odd values (huge, tiny,
// negative) and odd input ranges reach the fixed-point engine.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "hollowkit/imaging/color_lut.h"
#include "hollowkit/imaging/lut_engine.h"

using namespace hollowkit;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto lut = ColorLUT::parseCube(text, "/fuzz.cube", "fuzz");
    if (!lut) {
        check(!lut.error().userMessage().empty());
        return 0;
    }
    const int n = lut->dimension;
    check(n >= ColorLUT::kMinDimension && n <= ColorLUT::kMaxDimension);
    check(lut->rgba.size() == static_cast<size_t>(n) * n * n * 4);
    for (float v : lut->rgba) check(std::isfinite(v));
    check(lut->hasUsableDomain());

    // One byte less memory than the table takes: refused at its size line.
    ColorLUT::LoadOptions tighter;
    tighter.maxTableBytes = static_cast<int64_t>(lut->rgba.size() * sizeof(float)) - 1;
    const auto refused = ColorLUT::parseCube(text, "/fuzz.cube", "fuzz", tighter);
    check(!refused && refused.error().kind == ColorLUT::LoadError::Kind::overBudget);

    const auto engine = LutEngine::prepare(*lut);
    check(engine != nullptr);
    uint8_t pixels[4 * 4] = {0, 0, 0, 255, 255, 255, 255, 255, 1, 128, 254, 255, 17, 99, 200, 0};
    uint8_t out[4 * 4 * 2];  // two rows of four pixels
    for (auto kernel : {LutEngine::Kernel::best, LutEngine::Kernel::portable}) {
        engine->mapBgraRows(pixels, sizeof pixels, out, 16, 4, 0, 1, kernel);
        const uint8_t nv12[6] = {16, 235, 16, 235, 90, 240};
        engine->mapNv12Rows(nv12, 2, nv12 + 4, 2, out, 16, 2, 0, 2, kernel);
    }
    return 0;
}
