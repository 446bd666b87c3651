#include "hollowkit/base/thread_name.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

namespace hollowkit {

std::string osThreadName(std::string_view label) {
    constexpr std::string_view kPrefix = "HollowKit.";
    constexpr size_t kMaxBytes = 15;  // 16 with the terminating NUL
    std::string name;
    if (label.starts_with(kPrefix)) {
        name = "HK.";
        label.remove_prefix(kPrefix.size());
    }
    name.append(label);
    if (name.size() > kMaxBytes) {
        name.resize(kMaxBytes);
        // Never leave half of a multi-byte UTF-8 character at the end.
        while (!name.empty() && (static_cast<unsigned char>(name.back()) & 0xC0) == 0x80) name.pop_back();
        if (!name.empty() && static_cast<unsigned char>(name.back()) >= 0xC0) name.pop_back();
    }
    return name;
}

void setCurrentThreadName(std::string_view label) {
    pthread_setname_np(pthread_self(), osThreadName(label).c_str());
}

void applyQualityOfService(QualityOfService qos) {
    const int increment = niceIncrement(qos);
    if (increment == 0) return;
    // Linux keeps a nice value per thread, addressed by the thread's id.
    const auto thread = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, thread);
    if (current == -1 && errno != 0) return;
    ::setpriority(PRIO_PROCESS, thread, current + increment);
}

void enterLibraryThread(std::string_view label) {
    setCurrentThreadName(label);
    applyQualityOfService(qualityOfServiceFor(label));
}

}  // namespace hollowkit
