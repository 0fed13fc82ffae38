#include "ui/analysis/analysis_batch.h"

#include <QMetaObject>
#include <QRunnable>
#include <QThread>
#include <exception>
#include <utility>

#include "media/audio_files.h"

namespace pulsaro {

namespace {

// Progress steps smaller than this are not reported: a song decodes in
// hundreds of blocks, and a signal for each would flood the GUI thread.
constexpr double kProgressStep = 0.01;

}  // namespace

AnalysisBatch::AnalysisBatch(FileAnalyser& analyser, QObject* parent)
    : QObject(parent), analyser_(analyser), cancel_(std::make_shared<std::atomic<bool>>(false)) {
    pool_.setMaxThreadCount(QThread::idealThreadCount());
}

AnalysisBatch::~AnalysisBatch() {
    cancel_->store(true);
    pool_.clear();
    pool_.waitForDone();
}

void AnalysisBatch::add(const std::vector<std::filesystem::path>& inputs) {
    const std::vector<media::InputEntry> entries = media::collectAudioFiles(inputs);
    // Every new row counts as open before the first one is reported, so an
    // input's problem at the front does not end the batch early.
    const int first = rowCount();
    rows_.resize(rows_.size() + entries.size());
    open_ += static_cast<int>(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const int row = first + static_cast<int>(i);
        const media::InputEntry& entry = entries[i];
        emit rowAdded(row, entry.file);
        if (entry.problem.empty()) {
            start(row, entry.file);
        } else {
            FileAnalysis result;
            result.file = entry.file;
            result.error = entry.problem;
            finished(row, result);
        }
    }
}

void AnalysisBatch::start(int row, const std::filesystem::path& file) {
    // Each task posts to the batch; posts that arrive after the batch is
    // gone are dropped by Qt with their context object.
    auto task = [this, row, file, cancel = cancel_] {
        if (cancel->load()) {
            QMetaObject::invokeMethod(
                this, [this, row] { cancelled(row); }, Qt::QueuedConnection);
            return;
        }
        QMetaObject::invokeMethod(
            this, [this, row] { started(row); }, Qt::QueuedConnection);
        double reported = 0;
        const auto progress = [this, row, &reported](double fraction) {
            if (fraction >= reported + kProgressStep && fraction < 1.0) {
                reported = fraction;
                QMetaObject::invokeMethod(
                    this, [this, row, fraction] { progressed(row, fraction); },
                    Qt::QueuedConnection);
            }
        };
        try {
            FileAnalysis result = analyser_.analyse(file, progress, *cancel);
            QMetaObject::invokeMethod(
                this, [this, row, result = std::move(result)] { finished(row, result); },
                Qt::QueuedConnection);
        } catch (const analysis::AnalysisCancelled&) {
            QMetaObject::invokeMethod(
                this, [this, row] { cancelled(row); }, Qt::QueuedConnection);
        } catch (const std::exception& error) {
            FileAnalysis result;
            result.file = file;
            result.error = error.what();
            QMetaObject::invokeMethod(
                this, [this, row, result = std::move(result)] { finished(row, result); },
                Qt::QueuedConnection);
        }
    };
    pool_.start(QRunnable::create(std::move(task)));
}

void AnalysisBatch::cancel() {
    cancel_->store(true);
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    // Rows no worker has taken yet end now; a report that still comes for
    // one of them is ignored.
    pool_.clear();
    for (int row = 0; row < rowCount(); ++row) {
        if (rows_[static_cast<std::size_t>(row)].state == State::Waiting) {
            cancelled(row);
        }
    }
}

double AnalysisBatch::progress() const {
    if (rows_.empty()) {
        return 0;
    }
    double sum = 0;
    for (const Row& row : rows_) {
        sum += row.state == State::Finished ? 1.0 : row.progress;
    }
    return sum / static_cast<double>(rows_.size());
}

void AnalysisBatch::started(int row) {
    Row& r = rows_[static_cast<std::size_t>(row)];
    if (r.state != State::Waiting) {
        return;
    }
    r.state = State::Running;
    emit rowStarted(row);
}

void AnalysisBatch::progressed(int row, double fraction) {
    Row& r = rows_[static_cast<std::size_t>(row)];
    if (r.state != State::Running) {
        return;
    }
    r.progress = fraction;
    emit rowProgress(row, fraction);
    emit batchProgress(progress());
}

void AnalysisBatch::finished(int row, const FileAnalysis& result) {
    if (rows_[static_cast<std::size_t>(row)].state == State::Finished) {
        return;
    }
    close(row);
    emit rowFinished(row, result);
    emit batchProgress(progress());
    if (open_ == 0) {
        emit batchFinished();
    }
}

void AnalysisBatch::cancelled(int row) {
    if (rows_[static_cast<std::size_t>(row)].state == State::Finished) {
        return;
    }
    close(row);
    emit rowCancelled(row);
    emit batchProgress(progress());
    if (open_ == 0) {
        emit batchFinished();
    }
}

void AnalysisBatch::close(int row) {
    Row& r = rows_[static_cast<std::size_t>(row)];
    r.state = State::Finished;
    r.progress = 1;
    --open_;
}

}  // namespace pulsaro
