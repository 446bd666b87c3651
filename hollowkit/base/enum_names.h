#pragma once

// parseEnumName: the case of `cases` whose toString() is exactly `text`
// (case-sensitive, no trimming), or nothing. toString(Enum) is found by
// argument-dependent lookup, so it lives beside the enumeration.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace hollowkit {

template <typename Enum, std::size_t N>
std::optional<Enum> parseEnumName(std::string_view text, const std::array<Enum, N>& cases) {
    for (Enum value : cases) {
        if (toString(value) == text) return value;
    }
    return std::nullopt;
}

}  // namespace hollowkit
