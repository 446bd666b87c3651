#include "tests/journeys/wireless_journey_steps.h"

#include <signal.h>

namespace lumenhollow::journey {

nlohmann::json simulator(const nlohmann::json& report) {
    if (report.is_object() && report.contains("simulator") && report["simulator"].is_object()) {
        return report["simulator"];
    }
    return nlohmann::json::object();
}

bool pairAndGoLive(JourneyApp& app, std::string& why) {
    // A fresh home: no pairing stored, so the camera must be asked.
    if (!app.waitForState([](const nlohmann::json& s) { return s["status"] == kApprovePairingStatus; }, 60s)) {
        why = "the application never asked for the pairing to be approved; " + app.describe();
        return false;
    }
    if (simulator(app.state()).value("paired", true)) {
        why = "the camera counted the pairing as approved before anyone approved it";
        return false;
    }
    app.signal(SIGUSR1);
    if (!app.waitForState(
            [](const nlohmann::json& s) {
                return s["picture"] == true && s["connection"] == "wireless" && simulator(s).value("liveView", false);
            },
            60s)) {
        why = "no live picture after the pairing was approved; " + app.describe();
        return false;
    }
    return true;
}

}  // namespace lumenhollow::journey
