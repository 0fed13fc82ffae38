// The window's side of analysing audio files: the results window it opens
// (from the File menu or a drop), and the tempo and names that come back.

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QStandardPaths>
#include <QUrl>
#include <cmath>

#include "core/settings_names.h"
#include "core/settings_store.h"
#include "ui/analysis/analysis_window.h"
#include "ui/common/app_services.h"
#include "ui/common/dialogs.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/saving/result_saver.h"
#include "ui/window/main_window.h"

namespace pulsaro {

namespace {

Fixed fixedTempo(double bpm) {
    return static_cast<Fixed>(std::llround(bpm * 10'000.0));
}

AnalysedTempo analysedTempo(double bpm, const QString& artist, const QString& album,
                            const QString& title) {
    return AnalysedTempo{fixedTempo(bpm), artist, album, title};
}

// The preferred range the user may have set; the analysis's own otherwise.
analysis::AnalysisOptions analysisOptions(AppServices& services) {
    analysis::AnalysisOptions options;
    services.guard("AnalysisSettings", [&] {
        if (const auto key = RegistryKey::openReadOnly(services.store(), settings::kKeyPath)) {
            const auto lowest = key->findInteger(settings::kAnalysisLowestBpm);
            const auto highest = key->findInteger(settings::kAnalysisHighestBpm);
            if (lowest && highest && *lowest >= 30 && *lowest * 2 <= *highest && *highest <= 300) {
                options.preferredMinBpm = *lowest;
                options.preferredMaxBpm = *highest;
            }
        }
    });
    return options;
}

// Where a user keeps music: the desktop's music folder, else the home folder.
QString musicFolder() {
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return QFileInfo(music).isDir() ? music : QDir::homePath();
}

QStringList localFiles(const QMimeData* data) {
    QStringList files;
    if (data != nullptr) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                files << url.toLocalFile();
            }
        }
    }
    return files;
}

}  // namespace

void MainWindow::analyseFiles(const QStringList& paths) {
    services_.guard("AnalyseFiles", [&] {
        if (analysisWindow_ == nullptr) {
            if (analyser_ == nullptr) {
                ownAnalyser_ = std::make_unique<AudioFileAnalyser>(analysisOptions(services_));
                analyser_ = ownAnalyser_.get();
            }
            // Its own window beside this one, closed with it.
            analysisWindow_ = new AnalysisWindow(*analyser_, this);
            connect(analysisWindow_, &AnalysisWindow::tempoChosen, this,
                    [this](double bpm, const QString& artist, const QString& album,
                           const QString& title) {
                        useTempo(fixedTempo(bpm));
                        saver_->offerNames(analysedTempo(bpm, artist, album, title));
                    });
            connect(analysisWindow_, &AnalysisWindow::saveRequested, this,
                    [this](const std::vector<FileAnalysis>& rows) {
                        std::vector<AnalysedTempo> records;
                        for (const FileAnalysis& row : rows) {
                            records.push_back(analysedTempo(
                                row.estimate->bpm, QString::fromStdString(row.tags.artist),
                                QString::fromStdString(row.tags.album),
                                QString::fromStdString(row.tags.title)));
                        }
                        saver_->saveAnalysed(records);
                    });
        }
        QStringList files = paths;
        if (files.isEmpty()) {
            files = services_.dialogs().openFileNames(this, tr8(res::kAnalyseFilesCaption),
                                                      musicFolder(), tr8(res::kAudioFilesFilter));
            if (files.isEmpty() && !analysisWindow_->isVisible()) {
                return;
            }
        }
        if (!files.isEmpty()) {
            analysisWindow_->addFiles(files);
        }
        analysisWindow_->show();
        analysisWindow_->raise();
        analysisWindow_->activateWindow();
    });
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!localFiles(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QStringList files = localFiles(event->mimeData());
    if (!files.isEmpty()) {
        event->acceptProposedAction();
        analyseFiles(files);
    }
}

}  // namespace pulsaro
