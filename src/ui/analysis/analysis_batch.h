#pragma once

#include <QObject>
#include <QThreadPool>
#include <atomic>
#include <filesystem>
#include <memory>
#include <vector>

#include "ui/analysis/file_analysis.h"

namespace pulsaro {

// Analyses files on worker threads, every core busy, while the window stays
// responsive. Rows are numbered from 0 in the order they were added, across
// every add(); all signals arrive on the thread that owns the batch (the GUI
// thread), so their receivers need no locking.
//
//     rowAdded(row, file)          at once, for every row add() makes
//     rowStarted(row)              a worker took it
//     rowProgress(row, fraction)   at most about a hundred times a row
//     rowFinished(row, result)     analysed, failed, or an input's problem
//     rowCancelled(row)            cancel() came first
//     batchProgress(fraction)      after every change above
//     batchFinished()              when no row is waiting or running any more
class AnalysisBatch final : public QObject {
    Q_OBJECT

public:
    explicit AnalysisBatch(FileAnalyser& analyser, QObject* parent = nullptr);
    // Cancels what still runs and waits for the workers.
    ~AnalysisBatch() override;

    // Files and folders (walked recursively); may be called while rows run.
    void add(const std::vector<std::filesystem::path>& inputs);
    // Stops the running rows and drops the waiting ones; finished rows stay.
    void cancel();

    bool running() const { return open_ > 0; }
    int rowCount() const { return static_cast<int>(rows_.size()); }
    // Rows waiting or running.
    int openCount() const { return open_; }
    // 0..1 over every row added so far.
    double progress() const;
    int maxThreads() const { return pool_.maxThreadCount(); }

signals:
    void rowAdded(int row, const std::filesystem::path& file);
    void rowStarted(int row);
    void rowProgress(int row, double fraction);
    void rowFinished(int row, const pulsaro::FileAnalysis& result);
    void rowCancelled(int row);
    void batchProgress(double fraction);
    void batchFinished();

private:
    enum class State { Waiting, Running, Finished };
    struct Row {
        State state = State::Waiting;
        double progress = 0;
    };

    void start(int row, const std::filesystem::path& file);
    // The workers' reports, run on the batch's thread.
    void started(int row);
    void progressed(int row, double fraction);
    void finished(int row, const FileAnalysis& result);
    void cancelled(int row);
    void close(int row);

    FileAnalyser& analyser_;
    QThreadPool pool_;
    // Shared with the rows queued since the last cancel(); a new one after it.
    std::shared_ptr<std::atomic<bool>> cancel_;
    std::vector<Row> rows_;
    int open_ = 0;  // waiting or running
};

}  // namespace pulsaro
