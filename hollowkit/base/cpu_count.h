#pragma once

// How many CPUs this process may run on: its affinity mask, not the
// machine's count (`taskset`, containers and CI runners narrow it). Thread
// pools size themselves by this, so a program pinned to two CPUs does not
// start four workers that take turns on them. At least 1. Any thread.

namespace hollowkit {

int usableCpuCount();

}  // namespace hollowkit
