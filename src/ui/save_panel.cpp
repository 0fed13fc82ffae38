// Keeping a measurement: the save panel, QuickSave, the remembered names and
// the copy to the clipboard.

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include "core/number_format.h"
#include "core/settings_names.h"
#include "core/settings_store.h"
#include "ui/bpm_panel.h"
#include "ui/delay_panel.h"
#include "ui/main_window.h"
#include "ui/mpm_panel.h"
#include "ui/qt_text.h"
#include "ui/shared_operations.h"
#include "ui/string_resources.h"
#include "ui/tick_timer.h"
#include "ui/widgets.h"

namespace pulsaro {

namespace {

const QColor kLockedColour(255, 221, 221);
constexpr int kNameLength = 50;
constexpr int kSavingShownMs = 1000;

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

void MainWindow::buildSavePanel() {
    QFrame* panel = SaveToFilePanel;
    lblSaveCaption = makeLabel(panel, "lblSaveCaption", tr8(res::kSaveHeading),
                               QRect(8, 4, 193, 17), 10, true, QColor(255, 255, 0));
    lblSaveCaption->setAlignment(Qt::AlignCenter);
    lblSaveCaption->setAutoFillBackground(true);
    QPalette heading = lblSaveCaption->palette();
    heading.setColor(QPalette::Window, QColor(0, 0, 128));
    lblSaveCaption->setPalette(heading);

    lblArtist = makeLabel(panel, "lblArtist", tr8(res::kArtistLabel), QRect(8, 24, 0, 0));
    txtNameOfArtist = makeNameBox(panel, "txtNameOfArtist", QRect(8, 38, 146, 19));
    chkLockGroupName = makeLock(panel, "chkLockGroupName", res::kHintLockArtist, QPoint(158, 39));
    lblAlbum = makeLabel(panel, "lblAlbum", tr8(res::kAlbumLabel), QRect(8, 58, 0, 0));
    txtAlbumName = makeNameBox(panel, "txtAlbumName", QRect(8, 72, 146, 19));
    chkLockAlbumName = makeLock(panel, "chkLockAlbumName", res::kHintLockAlbum, QPoint(158, 73));
    lblTrack = makeLabel(panel, "lblTrack", tr8(res::kTrackLabel), QRect(8, 92, 0, 0));
    txtTrackName = makeNameBox(panel, "txtTrackName", QRect(8, 106, 146, 19));
    lblArtist->setBuddy(txtNameOfArtist);
    lblAlbum->setBuddy(txtAlbumName);
    lblTrack->setBuddy(txtTrackName);

    lblFileName = makeLabel(panel, "lblFileName", QString(), QRect(6, 130, 197, 12), 7);
    lblFileName->setToolTip(tr8(res::kHintFileName));
    lblFileName->installEventFilter(this);

    cmdSaveToFile =
        makeButton(panel, "cmdSaveToFile", res::kSaveButton, res::kHintSave, QRect(6, 150, 64, 27));
    cmdSaveToFile->setEnabled(false);
    cmdCancelSaveToFile = makeButton(panel, "cmdCancelSaveToFile", res::kCancelButton,
                                     res::kHintCancel, QRect(73, 150, 64, 27));
    cmdNewFile = makeButton(panel, "cmdNewFile", res::kNewButton, res::kHintNewFile,
                            QRect(140, 150, 63, 27));
    // The buttons' access keys are the window's, not the panel's, so they
    // act only while the panel is shown.
    for (QPushButton* button : {cmdSaveToFile, cmdCancelSaveToFile, cmdNewFile}) {
        button->setAutoDefault(false);
    }
    setTabOrder(txtNameOfArtist, txtAlbumName);
    setTabOrder(txtAlbumName, txtTrackName);
    setTabOrder(txtTrackName, cmdSaveToFile);
    setTabOrder(cmdSaveToFile, cmdCancelSaveToFile);
    setTabOrder(cmdCancelSaveToFile, cmdNewFile);

    connect(txtNameOfArtist, &QLineEdit::textChanged, this,
            [this] { txtNamesChange("txtNameOfArtistChange"); });
    connect(txtAlbumName, &QLineEdit::textChanged, this,
            [this] { txtNamesChange("txtAlbumNameChange"); });
    connect(txtTrackName, &QLineEdit::textChanged, this,
            [this] { txtNamesChange("txtTrackNameChange"); });
    connect(chkLockGroupName, &QCheckBox::clicked, this, &MainWindow::chkLockGroupNameClick);
    connect(chkLockAlbumName, &QCheckBox::clicked, this, &MainWindow::chkLockAlbumNameClick);
    connect(cmdSaveToFile, &QPushButton::clicked, this, &MainWindow::cmdSaveToFileClick);
    connect(cmdCancelSaveToFile, &QPushButton::clicked, this,
            &MainWindow::cmdCancelSaveToFileClick);
    connect(cmdNewFile, &QPushButton::clicked, this, &MainWindow::cmdNewFileClick);
}

void MainWindow::setCurrentResultFile(const QString& path) {
    currentResultFile = path;
    // Shortened to the label's own width, so it is never cut; the hint shows
    // the whole path.
    lblFileName->setText(funcs_.ShortenFileName(path, lblFileName->font(), lblFileName->width()));
}

// --- Opening, locks and closing ----------------------------------------------

void MainWindow::mnuFileSaveToFileClick() {
    funcs_.guard("mnuFileSaveToFileClick", [&] {
        if (displayMode_ == kModeDelay) {
            return;
        }
        if (displayMode_ == kModeBpm) {
            lblSaveCaption->setText(tr8(res::kSaveBpmCaption) + bpmPanel->valueText());
        } else if (displayMode_ == kModeMpm) {
            lblSaveCaption->setText(tr8(res::kSaveMpmCaption));
        }
        cmdReset->setEnabled(false);
        showStatus(RunStatus::Idle);
        // The measurement ends; its values stay.
        tap_.stop();
        cmdBeat->setEnabled(false);
        SaveToFilePanel->raise();
        SaveToFilePanel->move(44, 24);
        for (QFrame* panel : {static_cast<QFrame*>(mpmPanel), static_cast<QFrame*>(bpmPanel),
                              static_cast<QFrame*>(delayPanel)}) {
            panel->setVisible(false);
        }
        SaveToFilePanel->setVisible(true);
        saveAllowed_ = quickSaveAllowed_ = false;
        updateCommands();
        PrepareSaveFields();
    });
}

void MainWindow::PrepareSaveFields() {
    if (pendingArtistLock) {
        chkLockGroupName->setChecked(true);
        chkLockGroupNameClick();
        pendingArtistLock = false;
    }
    if (pendingAlbumLock) {
        chkLockAlbumName->setChecked(true);
        chkLockAlbumNameClick();
        pendingAlbumLock = false;
    }
    const bool artistLocked = chkLockGroupName->isChecked();
    const bool albumLocked = chkLockAlbumName->isChecked();
    txtNameOfArtist->setFocusPolicy(artistLocked ? Qt::ClickFocus : Qt::StrongFocus);
    txtAlbumName->setFocusPolicy(albumLocked ? Qt::ClickFocus : Qt::StrongFocus);
    QLineEdit* first = !artistLocked ? txtNameOfArtist : !albumLocked ? txtAlbumName : txtTrackName;
    first->setFocus(Qt::OtherFocusReason);
}

void MainWindow::txtNamesChange(const char* handler) {
    funcs_.guard(handler, [&] {
        // Blanks count as a name.
        cmdSaveToFile->setEnabled(!txtNameOfArtist->text().isEmpty() &&
                                  !txtAlbumName->text().isEmpty() &&
                                  !txtTrackName->text().isEmpty());
    });
}

void MainWindow::chkLockGroupNameClick() {
    colourBox(txtNameOfArtist, chkLockGroupName->isChecked());
    txtNameOfArtist->setFocus(Qt::OtherFocusReason);
}

void MainWindow::chkLockAlbumNameClick() {
    colourBox(txtAlbumName, chkLockAlbumName->isChecked());
    txtAlbumName->setFocus(Qt::OtherFocusReason);
}

void MainWindow::toggleNameLock(int digit) {
    const bool artist = digit == 1;
    QCheckBox* lock = artist ? chkLockGroupName : chkLockAlbumName;
    lock->setChecked(!lock->isChecked());
    if (artist) {
        chkLockGroupNameClick();
    } else {
        chkLockAlbumNameClick();
    }
    QCheckBox* other = artist ? chkLockAlbumName : chkLockGroupName;
    QLineEdit* own = artist ? txtNameOfArtist : txtAlbumName;
    QLineEdit* otherBox = artist ? txtAlbumName : txtNameOfArtist;
    QLineEdit* next = !lock->isChecked() ? own : other->isChecked() ? txtTrackName : otherBox;
    next->setFocus(Qt::OtherFocusReason);
}

void MainWindow::cmdCancelSaveToFileClick() {
    funcs_.guard("cmdCancelSaveToFileClick", [&] {
        cmdBeat->setEnabled(true);
        cmdReset->setEnabled(true);
        if (displayMode_ == kModeBpm) {
            showPanel(bpmPanel);
        } else if (displayMode_ == kModeMpm) {
            showPanel(mpmPanel);
        }
        // After the handler: the panel change may still move the focus.
        QMetaObject::invokeMethod(
            this, [this] { focusBeat(false); }, Qt::QueuedConnection);
    });
}

void MainWindow::cmdNewFileClick() {
    funcs_.guard("cmdNewFileClick", [&] {
        const QString name = funcs_.NewFileName(QString(), settings::kStoredFileType);
        if (auto key = RegistryKey::openForWriting(funcs_.store(), settings::kKeyPath, true)) {
            key->writeString(settings::kFileName, name.toStdString());
        }
        setCurrentResultFile(name);
    });
}

// --- Saving ------------------------------------------------------------------

void MainWindow::cmdSaveToFileClick() {
    funcs_.guard("cmdSaveToFileClick", [&] {
        if (tap_.state().measurementMode == kModeBpm) {
            BeginSaveToFileBPM(SaveType::BpmFull);
        } else if (tap_.state().measurementMode == kModeMpm) {
            BeginSaveToFileMPM(SaveType::MpmFull);
        }
        updateCommands();
    });
}

void MainWindow::mnuQuickSaveClick() {
    if (tap_.state().measurementMode != kModeBpm && tap_.state().measurementMode != kModeMpm) {
        return;
    }
    bpmPanel->setSaving(true);
    mpmPanel->setSaving(true);
    if (tap_.state().measurementMode == kModeBpm) {
        BeginSaveToFileBPM(SaveType::BpmQuick);
    } else {
        BeginSaveToFileMPM(SaveType::MpmQuick);
    }
}

bool MainWindow::BeginSaveToFileBPM(SaveType type) {
    bool written = false;
    funcs_.guard("BeginSaveToFileBPM", [&] {
        const std::string sep = SharedOperations::decimalSeparator();
        Record record;
        record.type = type;
        record.bpm = bpmText(tap_.tempo(), sep);
        record.pitch = pitchFieldText(bpmPanel->pitchRangeText().toStdString());
        record.delay = delayText(tap_.tempo(), sep);
        written = finishSave(record);
    });
    return written;
}

bool MainWindow::BeginSaveToFileMPM(SaveType type) {
    bool written = false;
    funcs_.guard("BeginSaveToFileMPM", [&] {
        Record record;
        record.type = type;
        record.bpm = bpmText(tap_.tempo(), SharedOperations::decimalSeparator());
        record.pitch = "0";
        record.delay = "0";
        written = finishSave(record);
    });
    return written;
}

bool MainWindow::finishSave(Record& record) {
    const bool full = record.type == SaveType::BpmFull || record.type == SaveType::MpmFull;
    const char delimiter = funcs_.GetFileDelimiter();
    if (full) {
        record.artist = txtNameOfArtist->text().toStdString();
        record.album = txtAlbumName->text().toStdString();
        record.track = txtTrackName->text().toStdString();
    }
    if (!funcs_.SaveToFile(*this, currentResultFile, record, delimiter)) {
        // Nothing was stored: everything typed and measured stays, so the
        // user can choose another file and save again.
        return false;
    }
    if (full) {
        txtTrackName->clear();
        if (!chkLockAlbumName->isChecked()) {
            txtAlbumName->clear();
        }
        if (!chkLockGroupName->isChecked()) {
            txtNameOfArtist->clear();
        }
        cmdCancelSaveToFileClick();
    }
    DoFullReset();
    return true;
}

void MainWindow::HideSavingIndicators() {
    bpmPanel->setSaving(false);
    mpmPanel->setSaving(false);
}

// --- The clipboard -----------------------------------------------------------

void MainWindow::CopyResultsToClipboard() {
    funcs_.guard("mnuCopyBPMClick", [&] {
        const QString lineEnd = QStringLiteral("\r\n");
        QString text;
        if (shown(delayPanel)) {
            for (const QString& row : delayPanel->rows()) {
                text += row + lineEnd;
            }
            text += tr8(res::kBpmPrefix) + delayPanel->tempoText();
        } else if (shown(bpmPanel)) {
            text = tr8(res::kBpmPrefix) +
                   fromStd(formatPattern(toLongDouble(tap_.tempo()), "0.####",
                                         SharedOperations::decimalSeparator())) +
                   lineEnd + tr8(res::kAvgPrefix) + bpmPanel->meanText();
        } else if (shown(mpmPanel)) {
            text = mpmPanel->lines().join(lineEnd);
        } else {
            text = tr8(res::kClipboardError);
        }
        funcs_.CopyTextToClipboard(text);
    });
}

// --- Shared operations -------------------------------------------------------

char SharedOperations::GetFileDelimiter() {
    char delimiter = delimiterFor(std::nullopt);
    guard("GetFileDelimiter", [&] {
        std::optional<std::int32_t> stored;
        if (const auto key = RegistryKey::openReadOnly(store_, settings::kKeyPath);
            key && key->valueExists(settings::kDelimiter)) {
            stored = key->readInteger(settings::kDelimiter);
        }
        delimiter = delimiterFor(stored);
    });
    return delimiter;
}

bool SharedOperations::SaveToFile(MainWindow& form, const QString& fileName, const Record& record,
                                  char delimiter) {
    bool written = false;
    try {
        saveRecord(fileName.toStdString(), record, delimiter, decimalSeparator());
        written = true;
    } catch (const std::exception& failure) {
        // The file and the system's reason go with the report.
        ErrorHandler(tr8(res::kSaveFailed), false, QString::fromUtf8(failure.what()));
    }
    // Written or not, the "Saving..." labels go one second later. Earlier
    // timers that have not fired keep their own time.
    std::erase_if(savingTimers_,
                  [](const std::unique_ptr<TTickTimer>& timer) { return !timer->Active(); });
    auto timer = std::make_unique<TTickTimer>(
        kSavingShownMs, [&form](TTickTimer&) { form.HideSavingIndicators(); });
    timer->OneShot = true;
    timer->SetActive(true);
    savingTimers_.push_back(std::move(timer));
    return written;
}

void SharedOperations::CopyTextToClipboard(const QString& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->setText(text, QClipboard::Clipboard);
    }
}

void SharedOperations::SaveReadAlbumInfo(const QString& artist, const QString& album,
                                         QString* artistOut, QString* albumOut, int direction,
                                         const MainWindow& form) {
    guard("SaveReadAlbumInfo", [&] {
        if (direction == 1) {
            if (const auto key = RegistryKey::openReadOnly(store_, settings::kKeyPath)) {
                if (key->valueExists(settings::kArtist) && artistOut != nullptr) {
                    *artistOut = fromStd(key->readString(settings::kArtist));
                }
                if (key->valueExists(settings::kAlbum) && albumOut != nullptr) {
                    *albumOut = fromStd(key->readString(settings::kAlbum));
                }
            }
            return;
        }
        if (auto key = RegistryKey::openForWriting(store_, settings::kKeyPath, true)) {
            key->batch([&] { storeLockedNames(*key, artist, album, form); });
        }
    });
}

void SharedOperations::storeLockedNames(RegistryKey& key, const QString& artist,
                                        const QString& album, const MainWindow& form) {
    const auto keep = [&](const char* name, const QString& text, bool locked) {
        if (!text.isEmpty() && locked) {
            key.writeString(name, text.toStdString());
        } else {
            key.deleteValue(name);
        }
    };
    keep(settings::kArtist, artist, form.chkLockGroupName->isChecked());
    keep(settings::kAlbum, album, form.chkLockAlbumName->isChecked());
}

}  // namespace pulsaro
