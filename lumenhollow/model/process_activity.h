#pragma once

// ProcessActivity: tells the system that the application is doing work the
// user started and waits for (a movie being written), so that the computer
// neither sleeps nor blanks its display meanwhile. The application hands the
// model one that speaks to the desktop's power management; tests count the
// begins and ends. Main executor only.

#include <cstdint>
#include <string_view>

namespace lumenhollow {

class ProcessActivity {
public:
    // Names one begun activity; 0 is none.
    using Token = uint64_t;

    virtual ~ProcessActivity() = default;

    // Begins an activity shown to the user as `reason` ("Recording video").
    // Returns 0 when the system refused it; the work goes on regardless.
    virtual Token begin(std::string_view reason) = 0;
    // Ends the activity `token` named; 0 and unknown tokens are ignored.
    virtual void end(Token token) = 0;
};

}  // namespace lumenhollow
