#pragma once

// x265 settings shared by the live movie writer and the screen composer.

#include <string_view>

namespace hollowkit {

// x265 3.5 (Debian 12's) frees a frame thread's SAO filter buffers only when
// the last picture that thread coded used SAO, so with SAO off, as the fast
// presets have it, every encoder closed leaks them: about 0.8 MB a movie at
// 1080p with four frame threads, for as long as the process runs. SAO stays
// on, in its quick mode: on 1080p at the movies' bit rate it cost x265 about
// 7 % more CPU time (a quarter more with the full search) and gained 0.2 dB.
inline constexpr std::string_view kX265SaoParams = "sao=1:limit-sao=1";

}  // namespace hollowkit
