// Fuzz target for the DUML codec: the frame scanner and both text readers
// take arbitrary bytes; every frame found must re-encode to bytes that scan
// back to the same frame, and every text read must re-encode to its input.

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>

#include "hollowkit/camera/duml_frame.h"
#include "hollowkit/camera/duml_text.h"

using namespace hollowkit;

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteView input(data, size);

    for (const DumlFrame& frame : DumlFrame::parseAll(input)) {
        const auto wire = frame.encoded();
        check(wire.has_value());
        check(wire.value().size() == frame.payload.size() + DumlFrame::kOverhead);
        const auto again = DumlFrame::parseAll(wire.value());
        check(!again.empty() && again.front() == frame);
    }

    if (const auto text = asciiString(input)) {
        const auto payload = asciiStringPayload(*text, input[0]);
        check(payload.has_value());
        check(ByteView(payload.value()).size() <= input.size());
        check(std::equal(payload.value().begin(), payload.value().end(), input.begin()));
    }

    ByteReader reader(input);
    while (true) {
        const size_t start = reader.offset();
        const auto text = readLengthPrefixedString(reader);
        if (!text) {
            break;
        }
        const auto encoded = lengthPrefixedString(*text);
        check(encoded.has_value());
        check(encoded.value().size() == reader.offset() - start);
        check(std::equal(encoded.value().begin(), encoded.value().end(), input.begin() + static_cast<std::ptrdiff_t>(start)));
    }
    return 0;
}
