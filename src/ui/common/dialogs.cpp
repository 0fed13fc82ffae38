#include "ui/common/dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSpacerItem>

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

QString fullWindowTitle(const QString& title) {
    // As the toolkit sends it to the window system: the program's name after
    // any other title.
    const QString name = QGuiApplication::applicationDisplayName();
    if (name.isEmpty() || title.endsWith(name)) {
        return title.isEmpty() ? QCoreApplication::applicationName() : title;
    }
    return title.isEmpty() ? name : title + QStringLiteral(" \u2014 ") + name;
}

int titleBarWidth(const QString& title, const QFont& font) {
    // The window manager draws the title in a bold face of its own, with room
    // for the window's icon and its buttons on either side.
    QFont titleFont = font;
    titleFont.setBold(true);
    constexpr double kLarger = 1.25;
    if (titleFont.pointSizeF() > 0) {
        titleFont.setPointSizeF(titleFont.pointSizeF() * kLarger);
    } else {
        titleFont.setPixelSize(qRound(titleFont.pixelSize() * kLarger));
    }
    constexpr int kIconAndButtons = 160;
    return QFontMetrics(titleFont).horizontalAdvance(fullWindowTitle(title)) + kIconAndButtons;
}

void prepareMessageBox(QMessageBox& box, const QString& caption, const QString& text,
                       Dialogs::Icon icon, Dialogs::Buttons buttons) {
    using Icon = Dialogs::Icon;
    using Buttons = Dialogs::Buttons;
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
    // A message box sizes itself to its text; a short text with a longer
    // title would leave the title cut in the middle. A spacer across the
    // bottom row is what keeps the box wide enough.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(titleBarWidth(caption, box.font()), 0, QSizePolicy::Minimum,
                                      QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
}

Dialogs::Answer QtDialogs::messageBox(QWidget* parent, const QString& caption, const QString& text,
                                      Icon icon, Buttons buttons) {
    QMessageBox box(parent);
    prepareMessageBox(box, caption, text, icon, buttons);
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

QStringList QtDialogs::openFileNames(QWidget* parent, const QString& caption, const QString& folder,
                                     const QString& filter) {
    QFileDialog dialog(parent, caption, folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}

}  // namespace pulsaro
