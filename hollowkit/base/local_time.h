#pragma once

// LocalTime: a calendar moment broken down in the system's current time
// zone, and the one way the library writes it out. Names and labels are
// written with Western digits and a 24-hour clock whatever the user's
// locale, so a name reads the same everywhere. Any thread; the time zone
// ($TZ or /etc/localtime) is read again on each call.

#include <string>

#include "hollowkit/base/clock.h"

namespace hollowkit {

struct LocalTime {
    int year = 0;
    int month = 0;   // 1…12
    int day = 0;     // 1…31
    int hour = 0;    // 0…23
    int minute = 0;
    int second = 0;  // 0…60 (a leap second)

    bool operator==(const LocalTime&) const = default;

    // The moment in the current time zone, to the whole second (earlier
    // fractions are dropped, never rounded up).
    static LocalTime of(WallTime time);

    // "2024-05-01 at 14.03.22".
    std::string dateAtTime() const;
};

}  // namespace hollowkit
