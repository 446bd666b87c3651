#include "hollowkit/testing/hostile_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "hollowkit/base/unique_fd.h"

namespace hollowkit::testsupport {

std::vector<HostileFile> allHostileFiles() {
    return {HostileFile::fifo, HostileFile::linkToDevZero, HostileFile::folder, HostileFile::sparseHuge};
}

const char* toString(HostileFile kind) {
    switch (kind) {
        case HostileFile::fifo: return "FIFO";
        case HostileFile::linkToDevZero: return "link to /dev/zero";
        case HostileFile::folder: return "folder";
        case HostileFile::sparseHuge: return "huge sparse file";
        case HostileFile::none: break;
    }
    return "none";
}

void makeHostileFile(const std::filesystem::path& path, HostileFile kind, uint64_t sizeBytes,
                     const std::string& prefix) {
    bool made = false;
    switch (kind) {
        case HostileFile::fifo:
            made = ::mkfifo(path.c_str(), 0600) == 0;
            break;
        case HostileFile::linkToDevZero:
            made = ::symlink("/dev/zero", path.c_str()) == 0;
            break;
        case HostileFile::folder:
            made = ::mkdir(path.c_str(), 0700) == 0;
            break;
        case HostileFile::sparseHuge: {
            UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            made = fd && ::write(fd.get(), prefix.data(), prefix.size()) == static_cast<ssize_t>(prefix.size()) &&
                   ::ftruncate(fd.get(), static_cast<off_t>(sizeBytes)) == 0;
            break;
        }
        case HostileFile::none:
            made = true;
            break;
    }
    if (!made) {
        std::fprintf(stderr, "cannot make a %s at %s\n", toString(kind), path.c_str());
        std::abort();
    }
}

}  // namespace hollowkit::testsupport
