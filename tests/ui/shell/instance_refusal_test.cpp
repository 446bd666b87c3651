#include "lumenhollow/ui/shell/instance_refusal.h"

#include <QAbstractButton>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

// What a start that cannot run tells the person, and its window: what the
// matter is, which process it is and the commands that end it, copied as
// they stand; the window closes from its button, pressed where it shows.

namespace lumenhollow {
namespace {

TEST(InstanceRefusalTest, TheWordsSayWhatTheMatterIsAndHowToEndIt) {
    struct Case {
        const char* name;
        InstanceRefusalFacts facts;
        const char* text;
        std::vector<const char*> said;
        std::vector<const char*> unsaid;
    };
    const char* notAnswering = "Lumenhollow is already running on these settings, but it does not answer.";
    const char* ending = "Lumenhollow is still ending on these settings.";
    const std::vector<Case> cases{
        {"stopped", {InstanceClaim::silent, 4242, true, "/home/a/.config/lumenhollow"}, notAnswering,
         {"process 4242", "stopped", "kill -CONT 4242", "kill -KILL 4242", "Settings: /home/a/.config/lumenhollow"},
         {"kill 4242\n"}},
        {"hung", {InstanceClaim::silent, 4242, false, "/s"}, notAnswering,
         {"process 4242", "kill 4242\n", "kill -KILL 4242", "Settings: /s"}, {"kill -CONT", "stopped"}},
        {"not named", {InstanceClaim::silent, std::nullopt, false, "/s"}, notAnswering,
         {"pgrep -a lumenhollow", "Settings: /s"}, {"It is process"}},
        {"ending", {InstanceClaim::ending, 4242, false, "/s"}, ending,
         {"process 4242", "again once it has ended", "Settings: /s"}, {"kill"}},
        {"ending, not named", {InstanceClaim::ending, std::nullopt, false, "/s"}, ending,
         {"again once it has ended"}, {"It is process", "kill"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const InstanceRefusal refusal = instanceRefusal(c.facts);
        EXPECT_EQ(refusal.title, QStringLiteral("Lumenhollow"));
        EXPECT_EQ(refusal.text, QString::fromUtf8(c.text));
        for (const char* part : c.said) EXPECT_TRUE(refusal.detail.contains(QString::fromUtf8(part))) << part;
        for (const char* part : c.unsaid) EXPECT_FALSE(refusal.detail.contains(QString::fromUtf8(part))) << part;
    }
}

TEST(InstanceRefusalTest, TheWindowShowsTheWordsAndClosesFromItsButton) {
    const InstanceRefusal refusal = instanceRefusal({InstanceClaim::silent, 4242, true, "/s"});
    InstanceRefusalBox box(refusal);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    EXPECT_TRUE(box.isWindow());
    EXPECT_EQ(box.windowTitle(), refusal.title);
    EXPECT_EQ(box.text(), refusal.text);
    EXPECT_EQ(box.informativeText(), refusal.detail);
    EXPECT_TRUE(box.textInteractionFlags() & Qt::TextSelectableByMouse) << "the commands can be copied";
    QAbstractButton* ok = box.button(QMessageBox::Ok);
    ASSERT_NE(ok, nullptr);
    bool finished = false;
    QObject::connect(&box, &QDialog::finished, &box, [&finished] { finished = true; });
    // A press where the button shows in the window.
    const QPoint at = ok->mapTo(&box, ok->rect().center());
    QTest::mouseClick(box.windowHandle(), Qt::LeftButton, {}, at);
    EXPECT_TRUE(finished);
    EXPECT_FALSE(box.isVisible());
}

}  // namespace
}  // namespace lumenhollow
