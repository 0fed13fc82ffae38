#include "ui/saving/result_saver.h"

#include <QClipboard>
#include <QGuiApplication>

#include "core/number_format.h"
#include "core/settings_names.h"
#include "core/settings_store.h"
#include "core/tempo_math.h"
#include "ui/common/app_services.h"
#include "ui/common/dialogs.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/common/tick_timer.h"
#include "ui/panels/bpm_panel.h"
#include "ui/panels/delay_panel.h"
#include "ui/panels/mpm_panel.h"
#include "ui/panels/save_panel.h"
#include "ui/panels/tempo_text.h"
#include "ui/panels/widgets.h"

namespace pulsaro {

namespace {

constexpr int kSavingShownMs = 1000;
constexpr int kPitchPercent = 8;

}  // namespace

ResultSaver::ResultSaver(const Parts& parts, QObject* parent)
    : QObject(parent),
      services_(parts.services),
      tap_(parts.tap),
      window_(parts.window),
      savePanel_(parts.savePanel),
      bpmPanel_(parts.bpmPanel),
      mpmPanel_(parts.mpmPanel),
      delayPanel_(parts.delayPanel) {
    setObjectName(QStringLiteral("resultSaver"));
}

ResultSaver::~ResultSaver() = default;

void ResultSaver::restoreLockedNames(const QString& artist, const QString& album) {
    savePanel_.restoreLockedNames(artist, album);
}

void ResultSaver::keepLockedNames(RegistryKey& key) {
    savePanel_.keepLockedNames(key);
}

std::vector<int> ResultSaver::savingNoteTimers() const {
    std::vector<int> ids;
    for (const auto& timer : savingTimers_) {
        ids.push_back(timer->systemTimerId());
    }
    return ids;
}

void ResultSaver::setResultFile(const QString& path) {
    setResultFileName(path.toStdString());
}

void ResultSaver::setResultFileName(const std::string& bytes) {
    resultFileName_ = bytes;
    resultFile_ = QString::fromStdString(bytes);
    const QString path = resultFile_;
    savePanel_.showResultFile(path);
}

// --- Opening, locks and closing ----------------------------------------------

void ResultSaver::openPanel(std::int32_t displayMode) {
    services_.guard("mnuFileSaveToFileClick", [&] {
        if (displayMode == kModeDelay) {
            return;
        }
        if (displayMode == kModeBpm) {
            savePanel_.setCaption(tr8(res::kSaveBpmCaption) + bpmPanel_.valueText());
        } else if (displayMode == kModeMpm) {
            savePanel_.setCaption(tr8(res::kSaveMpmCaption));
        }
        emit panelOpening();
        savePanel_.prepare();
        emit panelOpened();
    });
}

void ResultSaver::chooseNewResultFile() {
    services_.guard("cmdNewFileClick", [&] {
        const QString name = services_.NewFileName(QString(), settings::kStoredFileType);
        if (auto key = RegistryKey::openForWriting(services_.store(), settings::kKeyPath, true)) {
            key->writeString(settings::kFileName, name.toStdString());
        }
        setResultFile(name);
    });
}

// --- Saving ------------------------------------------------------------------

void ResultSaver::saveFromPanel() {
    services_.guard("cmdSaveToFileClick", [&] {
        if (tap_.state().measurementMode == kModeBpm) {
            saveBpmRecord(SaveType::BpmFull);
        } else if (tap_.state().measurementMode == kModeMpm) {
            saveMpmRecord(SaveType::MpmFull);
        }
        emit commandsChanged();
    });
}

void ResultSaver::quickSave() {
    if (tap_.state().measurementMode != kModeBpm && tap_.state().measurementMode != kModeMpm) {
        return;
    }
    const bool written = tap_.state().measurementMode == kModeBpm
                             ? saveBpmRecord(SaveType::BpmQuick)
                             : saveMpmRecord(SaveType::MpmQuick);
    // "Saving..." only for a record that was kept.
    if (written) {
        bpmPanel_.setSaving(true);
        mpmPanel_.setSaving(true);
    }
}

bool ResultSaver::saveBpmRecord(SaveType type) {
    bool written = false;
    services_.guard("BeginSaveToFileBPM", [&] {
        const std::string sep = decimalSeparator();
        Record record;
        record.type = type;
        record.bpm = bpmText(tap_.tempo(), sep);
        record.pitch = pitchFieldText(bpmPanel_.pitchRangeText().toStdString());
        record.delay = delayText(tap_.tempo(), sep);
        written = finishSave(record);
    });
    return written;
}

bool ResultSaver::saveMpmRecord(SaveType type) {
    bool written = false;
    services_.guard("BeginSaveToFileMPM", [&] {
        Record record{.type = type,
                      .bpm = bpmText(tap_.tempo(), decimalSeparator()),
                      .pitch = "0",
                      .delay = "0",
                      .artist = {},
                      .album = {},
                      .track = {}};
        written = finishSave(record);
    });
    return written;
}

bool ResultSaver::finishSave(Record& record) {
    const bool full = record.type == SaveType::BpmFull || record.type == SaveType::MpmFull;
    if (full) {
        const SavePanel::Names names = savePanel_.names();
        record.artist = names.artist.toStdString();
        record.album = names.album.toStdString();
        record.track = names.track.toStdString();
    }
    if (!writeRecord(record)) {
        // Nothing was stored: everything typed and measured stays, so the
        // user can choose another file and save again.
        return false;
    }
    if (full) {
        savePanel_.clearAfterSave();
    }
    emit recordSaved(full);
    return true;
}

void ResultSaver::hideSavingNotes() {
    bpmPanel_.setSaving(false);
    mpmPanel_.setSaving(false);
}

// --- Analysed files --------------------------------------------------------

void ResultSaver::offerNames(const AnalysedTempo& analysed) {
    savePanel_.offerNames({analysed.artist, analysed.album, analysed.title});
}

void ResultSaver::fillEmptyNames(const QString& artist, const QString& album,
                                 const QString& title) {
    savePanel_.fillEmptyNames({artist, album, title});
}

std::size_t ResultSaver::saveAnalysed(const std::vector<AnalysedTempo>& analysed) {
    std::size_t written = 0;
    services_.guard("SaveAnalysedFiles", [&] {
        const std::string sep = decimalSeparator();
        for (const AnalysedTempo& file : analysed) {
            Record record;
            record.type = SaveType::BpmFull;
            record.bpm = bpmText(file.tempo, sep);
            record.pitch = pitchFieldText(pitchRangeText(kPitchPercent, file.tempo, sep));
            record.delay = delayText(file.tempo, sep);
            record.artist = file.artist.toStdString();
            record.album = file.album.toStdString();
            record.track = file.title.toStdString();
            if (!writeRecord(record)) {
                return;
            }
            ++written;
        }
    });
    return written;
}

// --- The clipboard -----------------------------------------------------------

void ResultSaver::copyValues() {
    services_.guard("mnuCopyBPMClick", [&] {
        const QString lineEnd = QStringLiteral("\r\n");
        QString text;
        if (isShown(&delayPanel_)) {
            for (const QString& row : delayPanel_.rows()) {
                text += row + lineEnd;
            }
            text += tr8(res::kBpmPrefix) + delayPanel_.tempoText();
        } else if (isShown(&bpmPanel_)) {
            text =
                tr8(res::kBpmPrefix) +
                fromStd(formatPattern(toLongDouble(tap_.tempo()), "0.####", decimalSeparator())) +
                lineEnd + tr8(res::kAvgPrefix) + bpmPanel_.meanText();
        } else if (isShown(&mpmPanel_)) {
            text = mpmPanel_.lines().join(lineEnd);
        } else {
            text = tr8(res::kClipboardError);
        }
        if (QClipboard* clipboard = QGuiApplication::clipboard()) {
            clipboard->setText(text, QClipboard::Clipboard);
        }
    });
}

// --- The result file ---------------------------------------------------------

char ResultSaver::fileDelimiter() {
    char delimiter = delimiterFor(std::nullopt);
    services_.guard("GetFileDelimiter", [&] {
        std::optional<std::int32_t> stored;
        if (const auto key = RegistryKey::openReadOnly(services_.store(), settings::kKeyPath)) {
            stored = key->findInteger(settings::kDelimiter);
        }
        delimiter = delimiterFor(stored);
    });
    return delimiter;
}

bool ResultSaver::writeRecord(const Record& record) {
    bool written = false;
    try {
        saveRecord(resultFileName_, record, fileDelimiter(), decimalSeparator());
        written = true;
    } catch (const NoResultFileError&) {
        services_.dialogs().messageBox(&window_, tr8(res::kAppTitle), tr8(res::kNoResultFile),
                                       Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
    } catch (const std::exception& failure) {
        // The file and the system's reason go with the report.
        services_.ErrorHandler(tr8(res::kSaveFailed), false, QString::fromUtf8(failure.what()));
    }
    // Written or not, the "Saving..." labels go one second later. Earlier
    // timers that have not fired keep their own time.
    std::erase_if(savingTimers_,
                  [](const std::unique_ptr<TickTimer>& timer) { return !timer->Active(); });
    auto timer =
        std::make_unique<TickTimer>(kSavingShownMs, [this](TickTimer&) { hideSavingNotes(); });
    timer->OneShot = true;
    timer->SetActive(true);
    savingTimers_.push_back(std::move(timer));
    return written;
}

void ResultSaver::storeLockedNames() {
    services_.guard("SaveReadAlbumInfo", [&] {
        if (auto key = RegistryKey::openForWriting(services_.store(), settings::kKeyPath, true)) {
            key->batch([&] { savePanel_.keepLockedNames(*key); });
        }
    });
}

}  // namespace pulsaro
