#include "hollowkit/wireless/repeat_log.h"

#include "hollowkit/base/pocket_log.h"

namespace hollowkit {

bool RepeatLog::log(std::string_view topic, std::string_view line) {
    {
        MutexLock lock(mutex_);
        auto found = topics_.find(topic);
        if (found == topics_.end()) found = topics_.emplace(std::string(topic), Lines{}).first;
        Lines& written = found->second;
        if (written.find(line) != written.end()) return false;
        if (written.size() < kLinesPerTopic) written.emplace(line);
    }
    PocketLog::log(line);
    return true;
}

void RepeatLog::forget(std::string_view topic) {
    MutexLock lock(mutex_);
    if (auto found = topics_.find(topic); found != topics_.end()) topics_.erase(found);
}

}  // namespace hollowkit
