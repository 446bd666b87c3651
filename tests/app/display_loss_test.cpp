#include "lumenhollow/app/display_loss.h"

#include <QString>
#include <QtGlobal>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace lumenhollow {
namespace {

using namespace std::chrono_literals;

TEST(DisplayLossTest, OnlyQtsWordsForABrokenConnectionSayTheDisplayIsLost) {
    const struct {
        const char* message;
        bool lost;
    } cases[] = {
        {"The X11 connection broke (error 1). Did the X11 server die?", true},
        {"The X11 connection broke: I/O error (code 1)", true},
        {"QXcbConnection: XCB error: 3 (BadWindow)", false},
        {"Warning: the X11 connection broke", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(saysDisplayLost(QString::fromUtf8(c.message)), c.lost) << c.message;
}

TEST(DisplayLossTest, TheLogLineSaysWhatRanAndWhatTheShutdownSaved) {
    const struct {
        const char* name;
        DisplayLossAccount account;
        const char* line;
    } cases[] = {
        {"nothing under way", {}, "The display was lost; nothing was left to save; ending with status 1"},
        {"a recording",
         {std::chrono::seconds(4), {"Video saved"}, std::nullopt, true, {}},
         "The display was lost during a recording of 4 s; before ending: Video saved; ending with status 1"},
        {"photos counted, in the order they first came",
         {std::nullopt,
          {"Photo saved", "Photo failed: disk full", "Photo saved", "Photo saved"},
          std::nullopt,
          true,
          {}},
         "The display was lost; before ending: Photo saved (3 times), Photo failed: disk full; ending with "
         "status 1"},
        {"a take, with what the shutdown said",
         {std::nullopt, {"Photo saved"}, "/home/me/Videos/Lumenhollow/Take", true, {}},
         "The display was lost; before ending: the screen take in /home/me/Videos/Lumenhollow/Take, Photo saved; "
         "ending with status 1"},
        {"a recording whose end the shutdown did not see",
         {std::chrono::seconds(21), {}, std::nullopt, true, {}},
         "The display was lost during a recording of 21 s; its end was not reported before ending; ending with "
         "status 1"},
        {"a composition the shutdown stopped: the take it left, not \"nothing\"",
         {std::nullopt, {}, std::nullopt, true, {"the combined video of the take in /T was not made; ..."}},
         "The display was lost; before ending: the combined video of the take in /T was not made; ...; ending with "
         "status 1"},
        {"a take the shutdown stopped and left uncombined: said once, with what it lacks",
         {std::chrono::seconds(9), {"Photo saved"}, "/T", true, {"the combined video of the take in /T was not made"}},
         "The display was lost during a recording of 9 s; before ending: the combined video of the take in /T was "
         "not made, Photo saved; ending with status 1"},
        {"two takes left unfinished, each named, and no \"nothing\" after a take's stop",
         {std::nullopt,
          {},
          "/A",
          true,
          {"the take in /A was not finished: its Screen.mov is whole", "the combined video of the take in /B was not made"}},
         "The display was lost; before ending: the take in /A was not finished: its Screen.mov is whole, the combined "
         "video of the take in /B was not made; ending with status 1"},
        {"a shutdown cut short",
         {std::nullopt, {}, std::nullopt, false, {}},
         "The display was lost; the shutdown did not finish in time; ending with status 1"},
    };
    for (const auto& c : cases) EXPECT_EQ(describeDisplayLoss(c.account), c.line) << c.name;
}

// Every message Qt gives, in order, as the handler before the watch saw it.
std::vector<std::string> seen;
void recordMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    seen.push_back(message.toStdString());
}

// The handler the test found is put back when it ends.
class DisplayLossWatchTest : public testing::Test {
protected:
    void SetUp() override {
        seen.clear();
        found_ = qInstallMessageHandler(recordMessage);
    }
    void TearDown() override { qInstallMessageHandler(found_); }

private:
    QtMessageHandler found_ = nullptr;
};

// Qt says it on the GUI thread and then ends the process; the ending runs
// before that, once, with the message passed on first. Any other message,
// or one from another thread, is only passed on; and once the watch is gone
// the handler before it is back.
TEST_F(DisplayLossWatchTest, TheEndingRunsOnceWhenQtSaysTheConnectionBrokeOnTheGuiThread) {
    int endings = 0;
    size_t seenAtEnding = 0;
    {
        const DisplayLossWatch watch([&] {
            ++endings;
            seenAtEnding = seen.size();
        });
        qWarning("QXcbConnection: XCB error: 3 (BadWindow)");
        std::thread([] { qWarning("The X11 connection broke (error 1). Did the X11 server die?"); }).join();
        EXPECT_EQ(endings, 0) << "another message, or the same from another thread";
        qWarning("The X11 connection broke (error 1). Did the X11 server die?");
        EXPECT_EQ(endings, 1);
        EXPECT_EQ(seenAtEnding, 3u) << "the message is passed on before the ending";
        qWarning("The X11 connection broke: I/O error (code 1)");
        EXPECT_EQ(endings, 1) << "one ending";
    }
    qWarning("The X11 connection broke (error 1). Did the X11 server die?");
    EXPECT_EQ(endings, 1) << "the watch is gone";
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0], "QXcbConnection: XCB error: 3 (BadWindow)");
    EXPECT_EQ(seen[4], "The X11 connection broke (error 1). Did the X11 server die?");
}

}  // namespace
}  // namespace lumenhollow
