// The notice toast's lines and size, measured with a fixed advance per
// character: one line while the text fits, and within the room given
// otherwise, with every character kept in order.

#include <gtest/gtest.h>

#include "lumenhollow/ui/window/notice_toast.h"

namespace lumenhollow::test {
namespace {

constexpr double kCharWidth = 7;
constexpr double kLineHeight = 16;

double fixedAdvance(const QString& text) { return kCharWidth * static_cast<double>(text.size()); }

QString withoutSpaces(QString text) { return text.remove(u' '); }

TEST(NoticeToastLayoutTest, ANoticeWiderThanItsRoomWrapsWithinIt) {
    const QString path = QStringLiteral("/tmp/lumenhollow-take/Lumenhollow/Screen Recording 2026-12-10 at 04.40.12");
    struct Case {
        const char* name;
        QString text;
        double maxWidth;
        QStringList lines;  // empty: only checked for room and content
    };
    const std::vector<Case> cases{
        {"fits on one line", QStringLiteral("Face tracking on"), 728, {QStringLiteral("Face tracking on")}},
        {"exactly fits", QStringLiteral("Face tracking on"), 16 * kCharWidth + 2 * NoticeToast::kInset,
         {QStringLiteral("Face tracking on")}},
        {"broken between words", QStringLiteral("Screen recording saved. No file manager"),
         24 * kCharWidth + 2 * NoticeToast::kInset,
         {QStringLiteral("Screen recording saved."), QStringLiteral("No file manager")}},
        {"a path broken after its slashes", QStringLiteral("/tmp/aaaa/bbbb/cccc"), 10 * kCharWidth + 2 * NoticeToast::kInset,
         {QStringLiteral("/tmp/aaaa/"), QStringLiteral("bbbb/cccc")}},
        {"a run longer than a line", QStringLiteral("abcdefghijkl mn"), 5 * kCharWidth + 2 * NoticeToast::kInset,
         {QStringLiteral("abcde"), QStringLiteral("fghij"), QStringLiteral("kl mn")}},
        {"the notice of a take nothing could show",
         QStringLiteral("Screen recording saved. No file manager to open it: the folder is ") + path, 728, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const NoticeToastLayout layout = noticeToastLayout(c.text, c.maxWidth, kLineHeight, fixedAdvance);
        if (!c.lines.isEmpty()) {
            EXPECT_EQ(layout.lines, c.lines);
        }
        EXPECT_EQ(withoutSpaces(layout.lines.join(QString())), withoutSpaces(c.text)) << "nothing lost";
        EXPECT_LE(layout.width, c.maxWidth);
        double widest = 0;
        for (const QString& line : layout.lines) widest = std::max(widest, fixedAdvance(line));
        EXPECT_EQ(layout.width, widest + 2 * NoticeToast::kInset);
        if (layout.lines.size() == 1) {
            EXPECT_EQ(layout.height, NoticeToast::kHeight);
        } else {
            EXPECT_GT(layout.lines.size(), 1);
            EXPECT_EQ(layout.height, layout.lines.size() * kLineHeight + NoticeToast::kHeight - kLineHeight);
        }
    }
}

}  // namespace
}  // namespace lumenhollow::test
