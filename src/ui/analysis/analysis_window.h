#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <vector>

#include "ui/analysis/analysis_batch.h"
#include "ui/analysis/file_analysis.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;

namespace pulsaro {

class AnalysisTableModel;

// The files being analysed and their tempi, in a window of its own next to
// the main one (never modal). Files come from addFiles() or are dropped on
// it; Enter or a double-click on a row hands its tempo on, Save the selected
// rows'. Closing the window cancels what still runs; the rows stay.
class AnalysisWindow final : public QWidget {
    Q_OBJECT

public:
    enum Column { File, Artist, Album, Title, Bpm, Uncertainty, TagBpm, State, ColumnCount };

    explicit AnalysisWindow(FileAnalyser& analyser, QWidget* parent = nullptr);
    ~AnalysisWindow() override;

    // Files and folders (walked recursively), added to what runs already.
    void addFiles(const QStringList& paths);
    AnalysisBatch& batch() { return batch_; }
    // The finished row, or nothing while it waits or runs.
    const FileAnalysis* result(int row) const;

signals:
    void tempoChosen(double bpm, const QString& artist, const QString& album, const QString& title);
    // The selected rows that have a tempo, in table order.
    void saveRequested(const std::vector<pulsaro::FileAnalysis>& rows);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void chooseRow(int row);
    void saveSelected();
    void updateControls();
    void fitColumns();

    AnalysisBatch batch_;
    AnalysisTableModel* model_;
    QTableView* table_;
    QProgressBar* progress_;
    QLabel* count_;
    QPushButton* cancel_;
    QPushButton* save_;
    QPushButton* close_;
};

}  // namespace pulsaro
