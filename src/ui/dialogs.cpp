#include "ui/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace pulsaro {

namespace {

QString runFileDialog(QWidget* parent, const QString& caption, const QString& folder,
                      const QString& filter, const FileDialogOptions& options, bool save) {
    QFileDialog dialog(parent, caption, folder, filter);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const QStringList filters = dialog.nameFilters();
    if (options.selectedFilter >= 0 && options.selectedFilter < filters.size()) {
        dialog.selectNameFilter(filters[options.selectedFilter]);
    }
    dialog.setDefaultSuffix(options.defaultSuffix);
    if (!options.filterSuffixes.isEmpty()) {
        // The suffix follows the file type the user picks.
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog, &filters, &options](const QString& chosen) {
                             const auto index = filters.indexOf(chosen);
                             if (index >= 0 && index < options.filterSuffixes.size()) {
                                 dialog.setDefaultSuffix(options.filterSuffixes[index]);
                             }
                         });
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

}  // namespace

Dialogs::Answer QtDialogs::messageBox(QWidget* parent, const QString& caption, const QString& text,
                                      Icon icon, Buttons buttons) {
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (icon) {
        case Icon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case Icon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case Icon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case Icon::Question:
            box.setIcon(QMessageBox::Question);
            break;
    }
    switch (buttons) {
        case Buttons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case Buttons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case Buttons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Cancel:
            return Answer::Cancel;
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        default:
            return Answer::Ok;
    }
}

QString QtDialogs::openFileName(QWidget* parent, const QString& caption, const QString& folder,
                                const QString& filter, const FileDialogOptions& options) {
    return runFileDialog(parent, caption, folder, filter, options, false);
}

QString QtDialogs::saveFileName(QWidget* parent, const QString& caption, const QString& folder,
                                const QString& filter, const FileDialogOptions& options) {
    return runFileDialog(parent, caption, folder, filter, options, true);
}

}  // namespace pulsaro
