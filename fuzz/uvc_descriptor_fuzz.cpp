// Fuzz target for the USB descriptor walks: arbitrary bytes as a whole
// device's descriptors and as a video-control header with what follows it.
// Neither walk may read outside the input (ASan), and an id other than the
// default must come from a camera terminal descriptor that is really there.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "hollowkit/usb/uvc_descriptors.h"

using namespace hollowkit;

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool holdsCameraTerminal(ByteView bytes, uint8_t id) {
    for (size_t p = 0; p + 6 <= bytes.size(); ++p) {
        if (bytes[p + 1] == 0x24 && bytes[p + 2] == 0x02 && bytes[p + 3] == id && bytes[p + 4] == 0x01 &&
            bytes[p + 5] == 0x02) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteView input(data, size);

    const uint8_t id = cameraTerminalId(input);
    check(id == kDefaultCameraTerminalId || holdsCameraTerminal(input, id));

    if (const auto vc = findVideoControlInterface(input)) {
        check(!vc->classSpecificOffset || *vc->classSpecificOffset < size);
        const auto address = videoControlAddress(input);
        check(address.has_value() && address->interfaceNumber == vc->interfaceNumber);
        check(address->cameraTerminalId == kDefaultCameraTerminalId ||
              holdsCameraTerminal(input, address->cameraTerminalId));
    } else {
        check(!videoControlAddress(input).has_value());
    }
    return 0;
}
