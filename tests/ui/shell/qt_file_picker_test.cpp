// The file chooser through Qt's own dialog, scripted as a user would use it:
// the dialog is found, a name typed, Return pressed.

#include "lumenhollow/ui/shell/qt_file_picker.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include "../../model/model_harness.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

namespace lumenhollow {
namespace {

using Paths = std::vector<std::filesystem::path>;

TEST(QtFilePickerTest, TheFiltersOfferEveryTypeTogetherThenEachAlone) {
    const FileType lut{"LUT files", {"cube"}};
    const FileType png{"PNG images", {"png"}};
    const struct {
        const char* name;
        std::vector<FileType> types;
        QStringList expected;
    } cases[] = {
        {"no types: every file", {}, {}},
        {"one type", {lut}, {"LUT files (*.cube)"}},
        {"the look importer's two",
         {lut, png},
         {"LUT files, PNG images (*.cube *.png)", "LUT files (*.cube)", "PNG images (*.png)"}},
        {"a type of two extensions", {{"Pictures", {"png", "jpg"}}}, {"Pictures (*.png *.jpg)"}},
        {"a type without extensions is left out", {{"Nothing", {}}, png}, {"PNG images (*.png)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fileDialogNameFilters(c.types), c.expected);
    }
}

class QtFilePickerDialogTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        for (const char* name : {"warm.cube", "grid.png", "notes.txt"}) {
            std::ofstream(path(name)) << "x";
        }
        std::filesystem::create_directory(path("take-1"));
        window_.resize(640, 480);
        window_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    }

    std::filesystem::path path(const char* name) const {
        return std::filesystem::path(folder_.path().toStdString()) / name;
    }

    // The open dialog, once it has been shown.
    QFileDialog* dialog() {
        QFileDialog* open = picker_->openDialog();
        if (!open) return nullptr;
        EXPECT_TRUE(QTest::qWaitForWindowExposed(open));
        EXPECT_EQ(open->parentWidget(), &window_);
        return open;
    }

    // Types `text` into the dialog's name field and presses Return.
    static void typeAndAccept(QFileDialog& dialog, const QString& text) {
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setFocus();
        name->clear();
        QTest::keyClicks(name, text);
        QTest::keyClick(name, Qt::Key_Return);
    }

    QTemporaryDir folder_;
    QWidget window_;
    std::unique_ptr<QtFilePicker> picker_ =
        std::make_unique<QtFilePicker>([this] { return &window_; }, QtFilePicker::Options{false});
};

TEST_F(QtFilePickerDialogTest, TypedFilesComeBackAsAbsolutePaths) {
    std::vector<std::optional<Paths>> answers;
    FileChoiceRequest request{"Import a LUT", true, {{"LUT files", {"cube"}}, {"PNG images", {"png"}}}};
    picker_->chooseFiles(request, [&](std::optional<Paths> files) { answers.push_back(std::move(files)); });
    QFileDialog* open = dialog();
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->windowTitle(), QStringLiteral("Import a LUT"));
    EXPECT_EQ(open->fileMode(), QFileDialog::ExistingFiles);
    EXPECT_EQ(open->nameFilters(), fileDialogNameFilters(request.types));
    EXPECT_TRUE(open->isModal());
    open->setDirectory(folder_.path());
    typeAndAccept(*open, QStringLiteral("\"warm.cube\" \"grid.png\""));
    ASSERT_EQ(answers.size(), 1u);
    ASSERT_TRUE(answers[0].has_value());
    EXPECT_EQ(*answers[0], (Paths{path("warm.cube"), path("grid.png")}));
    // The dialog goes once answered, and the next request opens a new one.
    EXPECT_TRUE(QTest::qWaitFor([&] { return picker_->openDialog() == nullptr; }, 5000)) << "the dialog stayed";
}

TEST_F(QtFilePickerDialogTest, EachWayOutAnswersOnce) {
    enum class Exit { escape, secondRequest, windowClosed, pickerGone };
    const struct {
        const char* name;
        Exit exit;
    } cases[] = {
        {"Escape cancels", Exit::escape},
        {"a second request while one is open is cancelled, the first stays", Exit::secondRequest},
        {"the parent window going away cancels", Exit::windowClosed},
        {"the picker going away at quit cancels", Exit::pickerGone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::optional<Paths>> answers;
        std::vector<std::optional<Paths>> secondAnswers;
        auto parent = std::make_unique<QWidget>();
        parent->show();
        picker_ = std::make_unique<QtFilePicker>([&parent] { return parent.get(); }, QtFilePicker::Options{false});
        picker_->chooseFiles(FileChoiceRequest{"Import a LUT", false, {}},
                             [&](std::optional<Paths> files) { answers.push_back(std::move(files)); });
        QFileDialog* open = picker_->openDialog();
        ASSERT_NE(open, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(open));
        switch (c.exit) {
        case Exit::escape:
            QTest::keyClick(open, Qt::Key_Escape);
            break;
        case Exit::secondRequest:
            picker_->chooseFiles(FileChoiceRequest{"Again", false, {}},
                                 [&](std::optional<Paths> files) { secondAnswers.push_back(std::move(files)); });
            ASSERT_EQ(secondAnswers.size(), 1u);
            EXPECT_EQ(secondAnswers[0], std::nullopt);
            EXPECT_EQ(picker_->openDialog(), open);
            EXPECT_TRUE(answers.empty());
            open->reject();
            break;
        case Exit::windowClosed:
            parent.reset();
            break;
        case Exit::pickerGone:
            picker_.reset();
            break;
        }
        QCoreApplication::processEvents();
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0], std::nullopt);
        picker_.reset();
        EXPECT_EQ(answers.size(), 1u);
    }
}

TEST_F(QtFilePickerDialogTest, ATypedFolderIsTheChosenTake) {
    std::vector<std::optional<std::filesystem::path>> answers;
    const FolderChoiceRequest request{std::filesystem::path(folder_.path().toStdString()), "Rebuild",
                                      "Choose a take folder to rebuild."};
    picker_->chooseFolder(request, [&](std::optional<std::filesystem::path> folder) { answers.push_back(folder); });
    QFileDialog* open = dialog();
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->fileMode(), QFileDialog::Directory);
    EXPECT_EQ(open->labelText(QFileDialog::Accept), QStringLiteral("Rebuild"));
    EXPECT_EQ(open->directory().absolutePath(), folder_.path());
    typeAndAccept(*open, QString::fromStdString(path("take-1").string()));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], std::optional<std::filesystem::path>(path("take-1")));
}

TEST_F(QtFilePickerDialogTest, TheLookImporterTakesTheFileTypedIntoTheDialog) {
    {
        std::ofstream cube(path("warm.cube"));
        cube << "LUT_3D_SIZE 2\n";
        for (int i = 0; i < 8; ++i) cube << "0.5 0.25 0.125\n";
    }
    test::ModelHarness h;
    CameraModelServices services = h.services();
    services.filePicker = picker_.get();
    h.model = CameraModel::create(services);
    h.model->camera().start();
    h.main.runUntilIdle();

    h.model->importLUT();
    QFileDialog* open = dialog();
    ASSERT_NE(open, nullptr);
    open->setDirectory(folder_.path());
    typeAndAccept(*open, QStringLiteral("warm.cube"));
    h.main.runUntilIdle();
    ASSERT_EQ(h.state().customLUTs.size(), 1u);
    EXPECT_EQ(h.state().customLUTs.front().id, path("warm.cube").string());
    ASSERT_TRUE(h.state().selectedLUT.has_value());
    EXPECT_EQ(h.state().selectedLUT->id, path("warm.cube").string());
}

}  // namespace
}  // namespace lumenhollow
