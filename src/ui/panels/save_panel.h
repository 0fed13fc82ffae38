#pragma once

#include <QFrame>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pulsaro {

class RegistryKey;
class AppServices;

// The save panel: artist, album and track names (artist and album can be
// locked so they stay from one save to the next), the result file and the
// Save, Cancel and New buttons.
class SavePanel final : public QFrame {
    Q_OBJECT

public:
    struct Names {
        QString artist;
        QString album;
        QString track;
    };

    SavePanel(QWidget* parent, AppServices& operations);

    void setCaption(const QString& caption);
    // Names read back at start-up; their locks are checked when the panel
    // next opens.
    void restoreLockedNames(const QString& artist, const QString& album);
    // Ready for typing: locks applied, the first unlocked box focused.
    void prepare();
    Names names() const;
    bool artistLocked() const;
    bool albumLocked() const;
    // Keeps the locked names in the settings key and forgets the others.
    void keepLockedNames(RegistryKey& key) const;
    // Names from elsewhere (a file's tags): a locked name stays as it is.
    void offerNames(const Names& names);
    // Names that fill only the boxes left empty and unlocked (the playing
    // track's): what the user typed stays.
    void fillEmptyNames(const Names& names);
    // After a save: the track goes, and the names that are not locked.
    void clearAfterSave();
    // Ctrl+1 (artist) or Ctrl+2 (album): lock or unlock, and move on.
    void toggleLock(int digit);
    // The file a save appends to, shortened to the panel; the hint shows all.
    void showResultFile(const QString& path);

    QPushButton* saveButton() const { return save_; }
    QPushButton* cancelButton() const { return cancel_; }

signals:
    void saveClicked();
    void cancelClicked();
    void newFileClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void namesChanged(const char* handler);
    void lockClicked(QCheckBox* lock, QLineEdit* box);

    AppServices& services_;
    QLabel* caption_;
    QLineEdit* artist_;
    QCheckBox* artistLock_;
    QLineEdit* album_;
    QCheckBox* albumLock_;
    QLineEdit* track_;
    QLabel* fileName_;
    QPushButton* save_;
    QPushButton* cancel_;
    QPushButton* newFile_;
    QString resultFile_;
    bool pendingArtistLock_ = false;
    bool pendingAlbumLock_ = false;
};

}  // namespace pulsaro
