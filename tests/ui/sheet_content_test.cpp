#include "lumenhollow/ui/window/sheet_content.h"

#include <gtest/gtest.h>

#include "lumenhollow/ui/window/sheet_chips.h"
#include "lumenhollow/ui/window/usb_guide_sheet.h"

namespace lumenhollow {
namespace {

TEST(SheetContentTest, TheOutputFolderIsNamedAsTheFileManagerShowsIt) {
    const struct {
        const char* folder;
        const char* shown;
    } cases[] = {
        {"/home/ann/Videos/Lumenhollow", "Videos \u203a Lumenhollow"},
        {"/home/ann/Vid\u00e9os/Lumenhollow/", "Vid\u00e9os \u203a Lumenhollow"},
        {"/Lumenhollow", "Lumenhollow"},
        {"Lumenhollow", "Lumenhollow"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        EXPECT_EQ(folderAsSeen(c.folder), c.shown);
    }
}

TEST(SheetContentTest, TheWelcomeNamesThisDesktopsKeysAndFolder) {
    const WelcomeText text = welcomeText("/home/ann/Videos/Lumenhollow");
    ASSERT_EQ(text.features.size(), 4u);
    const struct {
        size_t row;
        const char* title;
        const char* detail;
    } cases[] = {
        {1, "Aim, zoom and follow", "Drag the preview to aim and scroll to zoom. Ctrl+T lets the camera follow your face."},
        {2, "Record",
         "Ctrl+R records to Videos \u203a Lumenhollow. Ctrl+Shift+R adds your screen, with you in the corner."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(text.features[c.row].title, c.title);
        EXPECT_EQ(text.features[c.row].detail, c.detail);
    }
    // Nothing speaks of keys or places this desktop does not have.
    std::string all = text.title + text.subtitle + text.privacy;
    for (const SheetRow& row : text.features) all += row.title + row.detail;
    for (const char* foreign : {"\u2318", "\u21e7", "\u2325", "macOS", "Movies"}) {
        EXPECT_EQ(all.find(foreign), std::string::npos) << foreign;
    }
}

TEST(SheetContentTest, TheGuidesFooterFollowsTheFind) {
    const struct {
        bool detected;
        UsbGuideFooter footer;
    } cases[] = {
        {false, {true, "", "Waiting for the camera\u2026", false}},
        {true, {false, "checkmark.circle.fill", "Camera found. Switching to USB\u2026", true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.detected);
        EXPECT_EQ(usbGuideFooter(c.detected), c.footer);
    }
}

TEST(SheetContentTest, ASheetKeepsEveryKeyButTheMenus) {
    const struct {
        int key;
        Qt::KeyboardModifiers modifiers;
        SheetKey action;
    } cases[] = {
        {Qt::Key_Return, Qt::NoModifier, SheetKey::accept},
        {Qt::Key_Enter, Qt::KeypadModifier, SheetKey::accept},
        {Qt::Key_Return, Qt::ShiftModifier, SheetKey::accept},
        {Qt::Key_Escape, Qt::NoModifier, SheetKey::cancel},
        {Qt::Key_Left, Qt::NoModifier, SheetKey::swallow},
        {Qt::Key_Up, Qt::ShiftModifier, SheetKey::swallow},
        {Qt::Key_Up, Qt::NoModifier, SheetKey::scroll},
        {Qt::Key_PageDown, Qt::KeypadModifier, SheetKey::scroll},
        {Qt::Key_End, Qt::NoModifier, SheetKey::scroll},
        {Qt::Key_C, Qt::NoModifier, SheetKey::swallow},
        {Qt::Key_Plus, Qt::ShiftModifier, SheetKey::swallow},
        {Qt::Key_Q, Qt::ControlModifier, SheetKey::menu},
        {Qt::Key_1, Qt::AltModifier, SheetKey::menu},
        {Qt::Key_Return, Qt::MetaModifier, SheetKey::menu},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(sheetKeyFor(c.key, c.modifiers), c.action);
    }
}

TEST(SheetContentTest, ChipsMoveToANewLineInsteadOfBeingCut) {
    const struct {
        const char* name;
        std::vector<double> widths;
        double available;
        std::vector<QRectF> rects;
    } cases[] = {
        {"one line", {40, 50}, 100, {{0, 0, 40, 20}, {46, 0, 50, 20}}},
        {"exactly full", {47, 47}, 100, {{0, 0, 47, 20}, {53, 0, 47, 20}}},
        {"wraps", {40, 50, 30}, 100, {{0, 0, 40, 20}, {46, 0, 50, 20}, {0, 26, 30, 20}}},
        {"wider than a line", {30, 150, 20}, 100, {{0, 0, 30, 20}, {0, 26, 100, 20}, {0, 52, 20, 20}}},
        {"none", {}, 100, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(flowChips(c.widths, c.available, 20, 6), c.rects);
    }
}

TEST(SheetContentTest, ChipInsetsGiveWayBeforeAChipWraps) {
    const struct {
        const char* name;
        std::vector<double> texts;
        double available;
        double inset;
    } cases[] = {
        {"room to spare", {40, 50}, 200, 8},
        {"exactly full", {40, 50}, 40 + 50 + 6 + 4 * 8, 8},
        {"a little short", {40, 50}, 40 + 50 + 6 + 4 * 8 - 8, 6},
        {"far too short", {40, 50}, 60, 4},
        {"none", {}, 10, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fittedChipInset(c.texts, c.available, 6, 8, 4), c.inset);
    }
}

// The USB guide's advantages in the sheet's own type, at the sheet's inner
// width, also less a scroll bar's: one row, nothing past its edge.
TEST(SheetContentTest, TheGuidesChipsSitOnOneRowAtTheSheetsWidth) {
    QStringList perks;
    for (const std::string& perk : usbGuideText().perks) perks << QString::fromStdString(perk);
    SheetChips chips(perks, nullptr);
    const int inner = SheetCard::kDefaultWidth - 2 * UsbGuideSheet::kPadding;
    for (const int width : {inner, inner - 10}) {
        SCOPED_TRACE(width);
        chips.resize(width, chips.heightForWidth(width));
        chips.show();
        ASSERT_EQ(chips.chipRects().size(), 4u);
        for (const QRectF& chip : chips.chipRects()) EXPECT_EQ(chip.top(), 0);
        EXPECT_LE(chips.chipRects().back().right(), width);
        EXPECT_EQ(chips.heightForWidth(width), static_cast<int>(chips.chipRects().front().height()));
    }
}

}  // namespace
}  // namespace lumenhollow
