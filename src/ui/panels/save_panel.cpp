#include "ui/panels/save_panel.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/settings_names.h"
#include "core/settings_store.h"
#include "ui/common/app_services.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/panels/widgets.h"

namespace pulsaro {

namespace {

const QColor kLockedColour(255, 221, 221);
constexpr int kNameLength = 50;

QLineEdit* makeNameBox(QWidget* panel, const char* name, QRect place) {
    auto* box = new QLineEdit(panel);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(place);
    box->setFont(windowFont(8));
    box->setMaxLength(kNameLength);
    return box;
}

QCheckBox* makeLock(QWidget* panel, const char* name, const char* hint, QPoint at) {
    auto* lock = new QCheckBox(tr8(res::kLock), panel);
    lock->setObjectName(QString::fromLatin1(name));
    lock->setFont(windowFont(8));
    lock->move(at);
    lock->adjustSize();
    lock->setToolTip(tr8(hint));
    // Not a tab stop; Ctrl+1 and Ctrl+2 reach it from the keyboard.
    lock->setFocusPolicy(Qt::ClickFocus);
    return lock;
}

QPushButton* makeButton(QWidget* panel, const char* name, const char* caption, const char* hint,
                        QRect place) {
    auto* button = new QPushButton(tr8(caption), panel);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(place);
    button->setFont(windowFont(8));
    button->setToolTip(tr8(hint));
    // The buttons' access keys are the window's, not the panel's, so they
    // act only while the panel is shown.
    button->setAutoDefault(false);
    return button;
}

void colourBox(QLineEdit* box, bool locked) {
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, locked
                                         ? kLockedColour
                                         : box->style()->standardPalette().color(QPalette::Base));
    box->setPalette(palette);
}

}  // namespace

SavePanel::SavePanel(QWidget* parent, AppServices& operations)
    : QFrame(parent), services_(operations) {
    setObjectName(QStringLiteral("SaveToFilePanel"));
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    resize(209, 185);
    setVisible(false);
    setAttribute(Qt::WA_NoMousePropagation);
    // Taller than the mode panels: it covers the Beat and Reset buttons.
    setAutoFillBackground(true);

    caption_ = makeLabel(this, "lblSaveCaption", tr8(res::kSaveHeading), QRect(8, 4, 193, 17), 10,
                         true, QColor(255, 255, 0));
    caption_->setAlignment(Qt::AlignCenter);
    caption_->setAutoFillBackground(true);
    QPalette heading = caption_->palette();
    heading.setColor(QPalette::Window, QColor(0, 0, 128));
    caption_->setPalette(heading);

    QLabel* artistLabel = makeLabel(this, "lblArtist", tr8(res::kArtistLabel), QRect(8, 24, 0, 0));
    artist_ = makeNameBox(this, "txtNameOfArtist", QRect(8, 38, 146, 19));
    artistLock_ = makeLock(this, "chkLockGroupName", res::kHintLockArtist, QPoint(158, 39));
    QLabel* albumLabel = makeLabel(this, "lblAlbum", tr8(res::kAlbumLabel), QRect(8, 58, 0, 0));
    album_ = makeNameBox(this, "txtAlbumName", QRect(8, 72, 146, 19));
    albumLock_ = makeLock(this, "chkLockAlbumName", res::kHintLockAlbum, QPoint(158, 73));
    QLabel* trackLabel = makeLabel(this, "lblTrack", tr8(res::kTrackLabel), QRect(8, 92, 0, 0));
    track_ = makeNameBox(this, "txtTrackName", QRect(8, 106, 146, 19));
    artistLabel->setBuddy(artist_);
    albumLabel->setBuddy(album_);
    trackLabel->setBuddy(track_);

    fileName_ = makeLabel(this, "lblFileName", QString(), QRect(6, 130, 197, 12), 7);
    fileName_->setToolTip(tr8(res::kHintFileName));
    fileName_->installEventFilter(this);

    save_ =
        makeButton(this, "cmdSaveToFile", res::kSaveButton, res::kHintSave, QRect(6, 150, 64, 27));
    save_->setEnabled(false);
    cancel_ = makeButton(this, "cmdCancelSaveToFile", res::kCancelButton, res::kHintCancel,
                         QRect(73, 150, 64, 27));
    newFile_ =
        makeButton(this, "cmdNewFile", res::kNewButton, res::kHintNewFile, QRect(140, 150, 63, 27));
    setTabOrder(artist_, album_);
    setTabOrder(album_, track_);
    setTabOrder(track_, save_);
    setTabOrder(save_, cancel_);
    setTabOrder(cancel_, newFile_);

    connect(artist_, &QLineEdit::textChanged, this,
            [this] { namesChanged("txtNameOfArtistChange"); });
    connect(album_, &QLineEdit::textChanged, this, [this] { namesChanged("txtAlbumNameChange"); });
    connect(track_, &QLineEdit::textChanged, this, [this] { namesChanged("txtTrackNameChange"); });
    connect(artistLock_, &QCheckBox::clicked, this, [this] { lockClicked(artistLock_, artist_); });
    connect(albumLock_, &QCheckBox::clicked, this, [this] { lockClicked(albumLock_, album_); });
    connect(save_, &QPushButton::clicked, this, &SavePanel::saveClicked);
    connect(cancel_, &QPushButton::clicked, this, &SavePanel::cancelClicked);
    connect(newFile_, &QPushButton::clicked, this, &SavePanel::newFileClicked);
}

void SavePanel::setCaption(const QString& caption) {
    caption_->setText(caption);
}

void SavePanel::restoreLockedNames(const QString& artist, const QString& album) {
    if (!artist.isEmpty()) {
        artist_->setText(artist);
        pendingArtistLock_ = true;
    }
    if (!album.isEmpty()) {
        album_->setText(album);
        pendingAlbumLock_ = true;
    }
}

void SavePanel::prepare() {
    if (pendingArtistLock_) {
        artistLock_->setChecked(true);
        lockClicked(artistLock_, artist_);
        pendingArtistLock_ = false;
    }
    if (pendingAlbumLock_) {
        albumLock_->setChecked(true);
        lockClicked(albumLock_, album_);
        pendingAlbumLock_ = false;
    }
    const bool artistLocked = artistLock_->isChecked();
    const bool albumLocked = albumLock_->isChecked();
    artist_->setFocusPolicy(artistLocked ? Qt::ClickFocus : Qt::StrongFocus);
    album_->setFocusPolicy(albumLocked ? Qt::ClickFocus : Qt::StrongFocus);
    QLineEdit* first = !artistLocked ? artist_ : !albumLocked ? album_ : track_;
    first->setFocus(Qt::OtherFocusReason);
}

SavePanel::Names SavePanel::names() const {
    return {artist_->text(), album_->text(), track_->text()};
}

// A name read back at start-up is locked, though its box is checked only
// when the panel first opens.
void SavePanel::offerNames(const Names& names) {
    if (!artistLocked()) {
        artist_->setText(names.artist);
    }
    if (!albumLocked()) {
        album_->setText(names.album);
    }
    track_->setText(names.track);
}

void SavePanel::fillEmptyNames(const Names& names) {
    const auto fill = [](QLineEdit* box, const QString& name, bool locked) {
        if (!locked && box->text().isEmpty()) {
            box->setText(name);
        }
    };
    fill(artist_, names.artist, artistLocked());
    fill(album_, names.album, albumLocked());
    fill(track_, names.track, false);
}

bool SavePanel::artistLocked() const {
    return artistLock_->isChecked() || pendingArtistLock_;
}

bool SavePanel::albumLocked() const {
    return albumLock_->isChecked() || pendingAlbumLock_;
}

void SavePanel::keepLockedNames(RegistryKey& key) const {
    const auto keep = [&](const char* name, const QString& text, bool locked) {
        if (!text.isEmpty() && locked) {
            key.writeString(name, text.toStdString());
        } else {
            key.deleteValue(name);
        }
    };
    keep(settings::kArtist, artist_->text(), artistLocked());
    keep(settings::kAlbum, album_->text(), albumLocked());
}

void SavePanel::clearAfterSave() {
    track_->clear();
    if (!albumLock_->isChecked()) {
        album_->clear();
    }
    if (!artistLock_->isChecked()) {
        artist_->clear();
    }
}

void SavePanel::toggleLock(int digit) {
    const bool artist = digit == 1;
    QCheckBox* lock = artist ? artistLock_ : albumLock_;
    QLineEdit* own = artist ? artist_ : album_;
    lock->setChecked(!lock->isChecked());
    lockClicked(lock, own);
    QCheckBox* other = artist ? albumLock_ : artistLock_;
    QLineEdit* otherBox = artist ? album_ : artist_;
    QLineEdit* next = !lock->isChecked() ? own : other->isChecked() ? track_ : otherBox;
    next->setFocus(Qt::OtherFocusReason);
}

void SavePanel::showResultFile(const QString& path) {
    resultFile_ = path;
    // Shortened to the label's own width, so it is never cut; the hint shows
    // the whole path.
    fileName_->setText(services_.ShortenFileName(path, fileName_->font(), fileName_->width()));
}

bool SavePanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == fileName_ && event->type() == QEvent::Enter) {
        fileName_->setToolTip(resultFile_);
    }
    return QFrame::eventFilter(watched, event);
}

void SavePanel::namesChanged(const char* handler) {
    services_.guard(handler, [&] {
        // Blanks count as a name.
        save_->setEnabled(!artist_->text().isEmpty() && !album_->text().isEmpty() &&
                          !track_->text().isEmpty());
    });
}

void SavePanel::lockClicked(QCheckBox* lock, QLineEdit* box) {
    colourBox(box, lock->isChecked());
    box->setFocus(Qt::OtherFocusReason);
}

}  // namespace pulsaro
