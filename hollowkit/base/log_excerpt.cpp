#include "hollowkit/base/log_excerpt.h"

namespace hollowkit {

std::string logExcerpt(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    size_t cut = maxBytes;
    // Back up over continuation bytes so no character is split; bytes that
    // are not UTF-8 at all stop this after three steps.
    for (int steps = 0; steps < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80; ++steps) {
        --cut;
    }
    return std::string(text.substr(0, cut)) + "\u2026 (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace hollowkit
