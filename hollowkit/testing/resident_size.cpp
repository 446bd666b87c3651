#include "hollowkit/testing/resident_size.h"

#include <cstring>
#include <fstream>
#include <string>

namespace hollowkit::testsupport {

int64_t statusBytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        // "VmRSS:   1234 kB"
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
            return std::stoll(line.substr(length + 1)) * 1024;
        }
    }
    return 0;
}

int64_t residentBytes() {
    return statusBytes("VmRSS");
}

}  // namespace hollowkit::testsupport
