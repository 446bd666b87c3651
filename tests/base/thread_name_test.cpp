#include "hollowkit/base/thread_name.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>

namespace hollowkit {
namespace {

// A thread started by hand gets, from its label alone, the OS name and the
// priority a SerialQueue with that label would get.
TEST(ThreadNameTest, ALibraryThreadTakesItsLabelsNameAndPriority) {
    struct Case {
        const char* label;
        const char* osName;
        int niceSteps;
    };
    const Case cases[] = {
        {"HollowKit.Probe", "HK.Probe", 5},
        {"HollowKit.Video", "HK.Video", 0},
        {"Test.Helper", "Test.Helper", 0},
    };
    const int base = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string name;
        int nice = 0;
        std::thread thread([&] {
            enterLibraryThread(c.label);
            char buffer[16] = {};
            pthread_getname_np(pthread_self(), buffer, sizeof buffer);
            name = buffer;
            nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
        });
        thread.join();
        EXPECT_EQ(name, c.osName);
        EXPECT_EQ(nice, std::min(base + c.niceSteps, 19));
    }
}

}  // namespace
}  // namespace hollowkit
