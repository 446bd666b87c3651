#include "hollowkit/base/local_time.h"

#include <cstdio>
#include <ctime>

namespace hollowkit {

LocalTime LocalTime::of(WallTime time) {
    const std::time_t seconds = WallClock::to_time_t(std::chrono::floor<std::chrono::seconds>(time));
    std::tm local{};
    // localtime_r may keep the zone it read first; a changed TZ must count.
    ::tzset();
    ::localtime_r(&seconds, &local);
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                     local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string LocalTime::dateAtTime() const {
    // Formatted by hand rather than through the locale.
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d at %02d.%02d.%02d", year, month, day, hour, minute,
                  second);
    return text;
}

}  // namespace hollowkit
