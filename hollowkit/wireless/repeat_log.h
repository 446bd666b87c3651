#pragma once

// RepeatLog: lets a failure that repeats itself, camera after camera, reach
// the log once. Without it a machine with no Bluetooth writes the same five
// lines for every camera the owner builds. Lines belong to a topic; each
// distinct line of a topic is written the first time only, until the topic
// is forgotten, which its user does once the road got past the failure, so
// that a failure coming back later is news again. A topic remembers at most
// kLinesPerTopic lines; past that, lines are written every time rather than
// hidden.
//
// One per NetworkEnvironment, shared by its wireless cameras and Bluetooth
// centrals. Any thread; its lock is a leaf, and the log is written outside it.

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "hollowkit/base/mutex.h"

namespace hollowkit {

class RepeatLog {
public:
    static constexpr size_t kLinesPerTopic = 32;

    RepeatLog() = default;
    RepeatLog(const RepeatLog&) = delete;
    RepeatLog& operator=(const RepeatLog&) = delete;

    // Writes `line` through PocketLog unless `topic` has written it since it
    // was last forgotten; true when written.
    bool log(std::string_view topic, std::string_view line);
    void forget(std::string_view topic);

private:
    using Lines = std::set<std::string, std::less<>>;

    Mutex mutex_;
    std::map<std::string, Lines, std::less<>> topics_ HK_GUARDED_BY(mutex_);
};

}  // namespace hollowkit
