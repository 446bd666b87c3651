#include "hollowkit/base/log_limiter.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/testing/test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

TEST(LogLimiterTest, LinesPerKeyAndPerIntervalWithOneSummary) {
    struct Event {
        uint32_t key;
        Duration at;
    };
    struct Case {
        const char* name;
        std::vector<Event> events;
        // The log after every event (its own line when admitted) and a
        // final flush().
        std::vector<std::string> log;
    };
    const std::string summary = " left out (at most 3 lines per 10 s)";
    const Case cases[] = {
        {"each key up to its own limit, not summarised",
         {{1, 0s}, {1, 0s}, {1, 0s}, {2, 1s}},
         {"line 1", "line 1", "line 2"}},
        {"interval budget, summarised at the flush",
         {{1, 0s}, {2, 0s}, {3, 0s}, {4, 0s}, {5, 1s}, {4, 2s}},
         {"line 1", "line 2", "line 3", "T: 3 line(s) of 2 key(s)" + summary}},
        {"summary first in the next interval; a left-out key gets its line then",
         {{1, 0s}, {2, 0s}, {3, 0s}, {4, 0s}, {4, 9999ms}, {4, 10s}},
         {"line 1", "line 2", "line 3", "T: 2 line(s) of 1 key(s)" + summary, "line 4"}},
        {"a key at its own limit is not counted as left out",
         {{1, 0s}, {1, 0s}, {2, 0s}, {1, 0s}, {3, 0s}},
         {"line 1", "line 1", "line 2", "T: 1 line(s) of 1 key(s)" + summary}},
        {"the interval starts at its first event",
         {{1, 5s}, {2, 5s}, {3, 5s}, {4, 14s}, {4, 15s}},
         {"line 1", "line 2", "line 3", "T: 1 line(s) of 1 key(s)" + summary, "line 4"}},
        {"quiet intervals write nothing", {{1, 0s}, {2, 30s}, {3, 60s}}, {"line 1", "line 2", "line 3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::LogCapture log;
        LogLimiter limiter("T", {2, 3, 10s});
        const TimePoint start = TimePoint() + 1h;
        for (const Event& event : c.events) {
            if (limiter.admit(event.key, start + event.at)) {
                PocketLog::log("line " + std::to_string(event.key));
            }
        }
        limiter.flush();
        limiter.flush();  // nothing more to say
        EXPECT_EQ(log.lines(), c.log);
    }
}

}  // namespace
}  // namespace hollowkit
