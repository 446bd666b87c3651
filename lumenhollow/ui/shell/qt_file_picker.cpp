#include "lumenhollow/ui/shell/qt_file_picker.h"

#include <QFile>
#include <QFileDialog>
#include <QObject>
#include <QWidget>

#include <optional>
#include <utility>

namespace lumenhollow {
namespace {

QString pickerQString(const std::string& text) {
    return QString::fromStdString(text);
}

std::filesystem::path pickerPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString pickerPatterns(const FileType& type) {
    QStringList patterns;
    for (const std::string& extension : type.extensions) {
        if (!extension.empty()) patterns << QStringLiteral("*.") + pickerQString(extension);
    }
    return patterns.join(QLatin1Char(' '));
}

}  // namespace

QStringList fileDialogNameFilters(const std::vector<FileType>& types) {
    QStringList filters;
    QStringList names;
    QStringList allPatterns;
    for (const FileType& type : types) {
        const QString patterns = pickerPatterns(type);
        if (patterns.isEmpty()) continue;
        filters << pickerQString(type.description) + QStringLiteral(" (") + patterns + QLatin1Char(')');
        names << pickerQString(type.description);
        allPatterns << patterns;
    }
    if (filters.size() > 1) {
        filters.prepend(names.join(QStringLiteral(", ")) + QStringLiteral(" (") + allPatterns.join(QLatin1Char(' ')) +
                        QLatin1Char(')'));
    }
    return filters;
}

QtFilePicker::QtFilePicker(std::function<QWidget*()> parentWindow, Options options)
    : parentWindow_(std::move(parentWindow)), options_(options), context_(std::make_unique<QObject>()) {}

QtFilePicker::~QtFilePicker() {
    // Its completion runs as a cancel while the context still exists.
    delete dialog_.data();
}

void QtFilePicker::chooseFiles(FileChoiceRequest request, FilesChosen completion) {
    if (dialog_) {
        dialog_->raise();
        completion(std::nullopt);
        return;
    }
    QFileDialog* dialog = makeDialog();
    dialog->setWindowTitle(pickerQString(request.title));
    dialog->setFileMode(request.multipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    const QStringList filters = fileDialogNameFilters(request.types);
    if (!filters.isEmpty()) dialog->setNameFilters(filters);
    show(dialog, [completion = std::move(completion)](const QStringList* chosen) {
        if (!chosen || chosen->isEmpty()) {
            completion(std::nullopt);
            return;
        }
        std::vector<std::filesystem::path> files;
        for (const QString& file : *chosen) files.push_back(pickerPath(file));
        completion(std::move(files));
    });
}

void QtFilePicker::chooseFolder(FolderChoiceRequest request, FolderChosen completion) {
    if (dialog_) {
        dialog_->raise();
        completion(std::nullopt);
        return;
    }
    QFileDialog* dialog = makeDialog();
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    // Qt's dialog has no line above its list: the title carries the message.
    dialog->setWindowTitle(pickerQString(request.message));
    if (!request.prompt.empty()) dialog->setLabelText(QFileDialog::Accept, pickerQString(request.prompt));
    if (!request.startFolder.empty()) dialog->setDirectory(QFile::decodeName(request.startFolder.c_str()));
    show(dialog, [completion = std::move(completion)](const QStringList* chosen) {
        if (!chosen || chosen->isEmpty()) {
            completion(std::nullopt);
            return;
        }
        completion(pickerPath(chosen->first()));
    });
}

QFileDialog* QtFilePicker::makeDialog() {
    QWidget* parent = parentWindow_ ? parentWindow_() : nullptr;
    auto* dialog = new QFileDialog(parent);
    if (!options_.desktopDialog) dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    return dialog;
}

void QtFilePicker::show(QFileDialog* dialog, std::function<void(const QStringList* chosen)> answer) {
    dialog_ = dialog;
    // Shared by the two ways the dialog can end; whichever comes first answers.
    auto pending = std::make_shared<std::function<void(const QStringList*)>>(std::move(answer));
    QObject::connect(dialog, &QDialog::finished, context_.get(), [dialog, pending](int result) {
        if (*pending) {
            const QStringList chosen = dialog->selectedFiles();
            std::exchange(*pending, nullptr)(result == QDialog::Accepted ? &chosen : nullptr);
        }
        dialog->deleteLater();
    });
    // Closed with its window, or at quit: a cancel.
    QObject::connect(dialog, &QObject::destroyed, context_.get(), [pending] {
        if (*pending) std::exchange(*pending, nullptr)(nullptr);
    });
    dialog->open();
}

}  // namespace lumenhollow
