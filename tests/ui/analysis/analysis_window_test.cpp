// The batch and the results window, through a scripted analyser.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QThread>

#include "fake_analyser.h"
#include "ui/analysis/analysis_window.h"
#include "ui/fakes.h"

namespace pulsaro::testing {
namespace {

// The user's locale for one test: numbers are shown with its separator.
struct GermanLocale {
    GermanLocale() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    ~GermanLocale() { QLocale::setDefault(previous); }
    const QLocale previous;
};

TEST(AnalysisBatch, ReportsOnTheGuiThreadThrottlesProgressAndCancelsWaitingAndRunningRows) {
    QTemporaryDir dir;
    FakeAnalyser analyser;
    AnalysisBatch batch(analyser);
    ASSERT_EQ(batch.maxThreads(), QThread::idealThreadCount());
    std::vector<std::filesystem::path> held;
    for (int i = 0; i < batch.maxThreads() + 3; ++i) {
        analyser.scripts["held" + std::to_string(i)].hold = true;
        held.emplace_back(touch(dir, "held" + std::to_string(i)).toStdString());
    }
    analyser.scripts["quick.mp3"].bpm = 100;
    const std::filesystem::path quick = touch(dir, "quick.mp3").toStdString();

    bool offThread = false;
    std::map<int, int> progressSignals;
    QObject::connect(&batch, &AnalysisBatch::rowProgress, [&](int row, double) {
        offThread = offThread || QThread::currentThread() != batch.thread();
        ++progressSignals[row];
    });
    QSignalSpy added(&batch, &AnalysisBatch::rowAdded);
    QSignalSpy finished(&batch, &AnalysisBatch::rowFinished);
    QSignalSpy cancelled(&batch, &AnalysisBatch::rowCancelled);
    QSignalSpy done(&batch, &AnalysisBatch::batchFinished);

    // A quick file first, then more held ones than there are workers, and a
    // missing input that is an error row at once.
    batch.add({quick});
    ASSERT_TRUE(done.wait(2000));
    done.clear();
    held.emplace_back(dir.filePath("missing.mp3").toStdString());
    batch.add(held);
    EXPECT_EQ(added.size(), held.size() + 1);
    ASSERT_EQ(finished.size(), 2);
    EXPECT_EQ(finished[1][1].value<FileAnalysis>().error, "does not exist");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return progressSignals.size() == std::size_t(batch.maxThreads()); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return progressSignals[1] > 20; }));
    EXPECT_TRUE(done.isEmpty());
    EXPECT_TRUE(batch.running());

    // Waiting rows end at once; running ones when their worker sees the flag.
    batch.cancel();
    EXPECT_EQ(cancelled.size(), 3);
    ASSERT_TRUE(done.wait(2000));
    EXPECT_EQ(cancelled.size(), held.size() - 1);
    EXPECT_EQ(finished.size(), 2);
    EXPECT_EQ(done.size(), 1);
    EXPECT_FALSE(batch.running());
    EXPECT_FALSE(offThread);
    for (const auto& [row, count] : progressSignals) {
        EXPECT_LE(count, 100) << "row " << row;
    }

    // A later drop runs again after a cancel.
    batch.add({quick});
    ASSERT_TRUE(done.wait(2000));
    EXPECT_EQ(finished.size(), 3);
    EXPECT_EQ(finished[2][0].toInt(), int(held.size()) + 1);
}

TEST(AnalysisWindow, ShowsEachRowsStateInTheLocaleAndHandsOnChosenAndSelectedTempi) {
    const GermanLocale german;
    QTemporaryDir dir;
    FakeAnalyser analyser;
    analyser.scripts["steady.flac"] = {128.5, "", {}, {"Artist A", "Album A", "Song A", 128}};
    analyser.scripts["drift.mp3"] = {
        92.25, "", analysis::Outcome::TempoChanges, {"B", "", "", 93.5}};
    analyser.scripts["broken.mp3"].error = "Invalid data found when processing input";
    const QStringList files = {touch(dir, "steady.flac"), touch(dir, "drift.mp3"),
                               touch(dir, "broken.mp3"), touch(dir, "quiet.wav"),
                               dir.filePath("gone.mp3")};

    AnalysisWindow window(analyser);
    window.show();
    QSignalSpy done(&window.batch(), &AnalysisBatch::batchFinished);
    window.addFiles(files);
    ASSERT_TRUE(done.wait(2000));

    auto* table = child<QTableView>(window, "tblAnalysis");
    const auto text = [&](int row, int column, int role = Qt::DisplayRole) {
        return table->model()->index(row, column).data(role).toString();
    };
    const struct {
        QString bpm, uncertainty, tagBpm, state;
    } expected[] = {
        {"128,50", "0,25", "128", "done"},
        {"92,25", "0,25", "93,5", "tempo changes"},
        {"", "", "", "Invalid data found when processing input"},
        {"", "", "", "no beat found"},
        {"", "", "", "does not exist"},
    };
    ASSERT_EQ(table->model()->rowCount(), 5);
    for (int row = 0; row < 5; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(text(row, AnalysisWindow::File), QFileInfo(files[row]).fileName());
        EXPECT_EQ(text(row, AnalysisWindow::File, Qt::ToolTipRole), files[row]);
        EXPECT_EQ(text(row, AnalysisWindow::Bpm), expected[row].bpm);
        EXPECT_EQ(text(row, AnalysisWindow::Uncertainty), expected[row].uncertainty);
        EXPECT_EQ(text(row, AnalysisWindow::TagBpm), expected[row].tagBpm);
        EXPECT_EQ(text(row, AnalysisWindow::State), expected[row].state);
    }
    EXPECT_EQ(text(2, AnalysisWindow::State, Qt::ToolTipRole),
              files[2] + ": Invalid data found when processing input");
    EXPECT_EQ(text(0, AnalysisWindow::Artist), "Artist A");
    // Every fixed text fits its column, in the window's font.
    for (const int column : {AnalysisWindow::Bpm, AnalysisWindow::Uncertainty,
                             AnalysisWindow::TagBpm, AnalysisWindow::State}) {
        for (const int row : {0, 1, 3, 4}) {
            EXPECT_LE(table->sizeHintForIndex(table->model()->index(row, column)).width(),
                      table->columnWidth(column))
                << "row " << row << " column " << column;
        }
    }

    // Enter takes the current row's tempo; a row without one gives nothing.
    QSignalSpy chosen(&window, &AnalysisWindow::tempoChosen);
    table->setFocus();
    for (const int row : {2, 0}) {
        table->setCurrentIndex(table->model()->index(row, 0));
        QTest::keyClick(table, Qt::Key_Return);
    }
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_DOUBLE_EQ(chosen[0][0].toDouble(), 128.5);
    EXPECT_EQ(chosen[0][1].toString() + chosen[0][2].toString() + chosen[0][3].toString(),
              "Artist AAlbum ASong A");

    // Save is for selected rows that have a tempo, and hands on just those.
    auto* save = child<QPushButton>(window, "btnAnalysisSave");
    EXPECT_FALSE(child<QPushButton>(window, "btnAnalysisCancel")->isEnabled());
    table->selectRow(2);
    EXPECT_FALSE(save->isEnabled());
    table->selectionModel()->select(table->model()->index(1, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    table->selectionModel()->select(table->model()->index(0, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ASSERT_TRUE(save->isEnabled());
    QSignalSpy saved(&window, &AnalysisWindow::saveRequested);
    save->click();
    ASSERT_EQ(saved.size(), 1);
    const auto rows = saved[0][0].value<std::vector<FileAnalysis>>();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].tags.title, "Song A");
    EXPECT_TRUE(rows[1].tempoChanges());
}

}  // namespace
}  // namespace pulsaro::testing
