#pragma once

// QtFilePicker: the model's file chooser over QFileDialog: files to import
// (the look importer's .cube and .png) and a folder (a take to rebuild).
// The desktop's own dialog is used where the platform offers one, else Qt's.
// The dialog is window-modal over the window `parentWindow` names and never
// blocks the event loop; its completion runs once, on the GUI thread, also
// (as a cancel) when the dialog goes away unanswered. One dialog at a time:
// a request while one is open is answered as cancelled. GUI thread only.

#include <QFileDialog>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

#include "lumenhollow/platform/file_picker.h"

class QObject;
class QWidget;

namespace lumenhollow {

// The dialog's filters: every type at once first (when there are several),
// then each type alone, as "LUT files (*.cube)".
QStringList fileDialogNameFilters(const std::vector<FileType>& types);

class QtFilePicker final : public FilePicker {
public:
    struct Options {
        // False: always Qt's own dialog (scripted tests).
        bool desktopDialog = true;
    };

    // `parentWindow` gives the window the dialog belongs to; null: none.
    QtFilePicker(std::function<QWidget*()> parentWindow, Options options);
    ~QtFilePicker() override;
    QtFilePicker(const QtFilePicker&) = delete;
    QtFilePicker& operator=(const QtFilePicker&) = delete;

    void chooseFiles(FileChoiceRequest request, FilesChosen completion) override;
    void chooseFolder(FolderChoiceRequest request, FolderChosen completion) override;

    // The open dialog, if any.
    QFileDialog* openDialog() const { return dialog_; }

private:
    QFileDialog* makeDialog();
    void show(QFileDialog* dialog, std::function<void(const QStringList* chosen)> answer);

    const std::function<QWidget*()> parentWindow_;
    const Options options_;
    // The context of every connection to a dialog; outlives the dialogs.
    std::unique_ptr<QObject> context_;
    QPointer<QFileDialog> dialog_;
};

}  // namespace lumenhollow
