#pragma once

// What the notice capsule says while a quit waits for what is being saved
// (a movie being completed, a take, its combined movie, photos): the window
// stays up meanwhile and would otherwise look as if nothing happened. Plain
// functions of the model's state.

#include <optional>
#include <string>

#include "lumenhollow/model/published_state.h"

namespace lumenhollow {

// The quit's line: "Saving the recording and 8 photos before quitting…",
// "Still saving …" once quit was asked for again, "Quitting…" when only the
// camera is left to stop; nothing while no quit runs.
std::optional<std::string> quitNotice(const std::optional<QuitProgress>& progress);

// What the capsule shows: the quit's line while a quit runs (it stays until
// the end), the model's notice otherwise.
std::optional<std::string> shownNotice(const PublishedState& state);

}  // namespace lumenhollow
