#pragma once

#include <QString>
#include <QStringList>

class QFont;
class QMessageBox;
class QWidget;

namespace pulsaro {

// How a file dialog starts, beyond its caption, folder and filters.
struct FileDialogOptions {
    // The filter shown first, counted from 0 in the ";;"-separated list.
    int selectedFilter = 0;
    // Added to a typed name that has none; empty: nothing is added.
    QString defaultSuffix;
    // When not empty, picking filter i makes entry i the default suffix
    // (an empty entry: none).
    QStringList filterSuffixes;
};

// Every modal the windows open goes through here, so tests can answer them
// from a script instead of blocking on a real dialog.
class Dialogs {
public:
    enum class Icon { Information, Warning, Error, Question };
    enum class Buttons { Ok, OkCancel, YesNo };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~Dialogs() = default;

    virtual Answer messageBox(QWidget* parent, const QString& caption, const QString& text,
                              Icon icon, Buttons buttons) = 0;
    // The chosen file, empty when cancelled. Opening takes existing files only.
    virtual QString openFileName(QWidget* parent, const QString& caption, const QString& folder,
                                 const QString& filter, const FileDialogOptions& options = {}) = 0;
    virtual QString saveFileName(QWidget* parent, const QString& caption, const QString& folder,
                                 const QString& filter, const FileDialogOptions& options = {}) = 0;
    // Existing files, as many as the user picks; none when cancelled.
    virtual QStringList openFileNames(QWidget* parent, const QString& caption,
                                      const QString& folder, const QString& filter) = 0;
};

// The real dialogs of the toolkit.
class QtDialogs final : public Dialogs {
public:
    Answer messageBox(QWidget* parent, const QString& caption, const QString& text, Icon icon,
                      Buttons buttons) override;
    QString openFileName(QWidget* parent, const QString& caption, const QString& folder,
                         const QString& filter, const FileDialogOptions& options = {}) override;
    QString saveFileName(QWidget* parent, const QString& caption, const QString& folder,
                         const QString& filter, const FileDialogOptions& options = {}) override;
    QStringList openFileNames(QWidget* parent, const QString& caption, const QString& folder,
                              const QString& filter) override;
};

// The title as the window system shows it, and the width a box needs so that
// its title bar shows all of it.
QString fullWindowTitle(const QString& title);
int titleBarWidth(const QString& title, const QFont& font);
void prepareMessageBox(QMessageBox& box, const QString& caption, const QString& text,
                       Dialogs::Icon icon, Dialogs::Buttons buttons);

}  // namespace pulsaro
