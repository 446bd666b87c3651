#pragma once

// Lists of published fields, the way a view names what it shows: each
// "what to show" function states the fields it reads beside itself, and its
// view subscribes to exactly those (ModelSignals::onChange). Plain values.

#include <array>
#include <cstddef>

#include "lumenhollow/model/published_state.h"

namespace lumenhollow {

template <size_t N>
using FieldList = std::array<Field, N>;

// The lists one after the other (a field in two of them is heard once).
template <size_t... N>
constexpr FieldList<(N + ...)> joinFields(const FieldList<N>&... lists) {
    FieldList<(N + ...)> all{};
    size_t at = 0;
    auto append = [&](const auto& list) {
        for (Field field : list) all[at++] = field;
    };
    (append(lists), ...);
    return all;
}

// What the active camera can do (position exactly, take camera settings)
// changes only when the model replaces it, which no field announces: the
// route is published first, and the new camera's first status, statistics
// or failure each publish the status text once it runs. A view that asks the
// camera what it can do listens to these.
inline constexpr FieldList<2> kActiveCameraFields{Field::connection, Field::statusText};

}  // namespace lumenhollow
