// The EDID product-name reader on arbitrary bytes: it never reads past the
// block (ASan), and a name it finds is short, printable ASCII without
// spaces at either end.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "hollowkit/recording/x11/edid_monitor_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto name = hollowkit::edidMonitorName(hollowkit::ByteView(data, size));
    if (!name) return 0;
    if (name->empty() || name->size() > 13 || name->front() == ' ' || name->back() == ' ') std::abort();
    for (char c : *name) {
        if (c < 0x20 || c > 0x7E) std::abort();
    }
    return 0;
}
