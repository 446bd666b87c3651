#pragma once

// This process's memory as the kernel counts it (/proc/self/status), for
// tests that hold a case to a memory bound. Any thread.

#include <cstdint>

namespace hollowkit::testsupport {

// A field of /proc/self/status that counts kilobytes ("VmRSS", "VmHWM"), in
// bytes; 0 where /proc cannot tell.
int64_t statusBytes(const char* field);

// This process's resident size now, in bytes; 0 where /proc cannot tell.
int64_t residentBytes();

}  // namespace hollowkit::testsupport
