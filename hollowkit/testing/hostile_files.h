#pragma once

// Things a careless script or a new user can leave where a program expects
// one of its files: a FIFO (opening it the usual way waits for a writer
// forever), a link to /dev/zero (endless), a folder, and a regular file far
// larger than its kind ever is (made sparse, so it costs no disk).

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace hollowkit::testsupport {

enum class HostileFile : uint8_t { none = 0, fifo, linkToDevZero, folder, sparseHuge };

std::vector<HostileFile> allHostileFiles();
const char* toString(HostileFile kind);

// Puts `kind` at `path` (which must not exist yet). `prefix` starts a sparse
// file, the rest of its `sizeBytes` reading as NUL bytes. Aborts the test
// program when the file system refuses: no test can judge without it.
void makeHostileFile(const std::filesystem::path& path, HostileFile kind, uint64_t sizeBytes = uint64_t{1} << 30,
                     const std::string& prefix = {});

}  // namespace hollowkit::testsupport
