// The relaunched program ("Quit and Reopen", "Reopen Lumenhollow") is
// started by QProcess::startDetached from a process that catches SIGPIPE
// and the termination signals: it starts with every one of them at its
// default, neither ignored nor blocked, and starting it leaves this
// process's handlers as they were.

#include <signal.h>

#include <QProcess>
#include <QStringList>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "event_loop_wait.h"
#include "hollowkit/base/broken_pipe.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/app/termination_signals.h"

namespace lumenhollow {
namespace {

using test::spinUntil;

// The bits of one "Sig...:" line of a /proc status text.
unsigned long long maskIn(const std::string& status, const std::string& field) {
    std::istringstream lines(status);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1), nullptr, 16);
    }
    return ~0ULL;
}

bool caught(int signal) {
    struct sigaction current {};
    ::sigaction(signal, nullptr, &current);
    return current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN;
}

TEST(RelaunchSignalsTest, TheRelaunchedProgramStartsWithEverySignalAtItsDefault) {
    struct sigaction previousPipe {};
    ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &previousPipe), 0);
    ASSERT_TRUE(TerminationSignals::install().has_value());
    ASSERT_TRUE(hollowkit::installBrokenPipeHandler());

    hollowkit::testsupport::TempDir folder;
    const std::string report = (folder.path() / "status").string();
    const QString script = QStringLiteral("grep '^Sig' /proc/self/status > '%1.part' && mv '%1.part' '%1'")
                               .arg(QString::fromStdString(report));
    ASSERT_TRUE(QProcess::startDetached(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}));
    std::string status;
    ASSERT_TRUE(spinUntil([&] {
        std::ifstream in(report);
        std::stringstream text;
        text << in.rdbuf();
        status = text.str();
        return !status.empty();
    }));

    const int signals[] = {SIGPIPE, SIGTERM, SIGINT, SIGHUP};
    for (const int signal : signals) {
        const unsigned long long bit = 1ULL << (signal - 1);
        EXPECT_EQ(maskIn(status, "SigIgn") & bit, 0ULL) << "signal " << signal << " ignored\n" << status;
        EXPECT_EQ(maskIn(status, "SigBlk") & bit, 0ULL) << "signal " << signal << " blocked\n" << status;
        EXPECT_TRUE(caught(signal)) << "signal " << signal << " no longer caught here";
    }
    ::sigaction(SIGPIPE, &previousPipe, nullptr);
}

}  // namespace
}  // namespace lumenhollow
