#include "ui/analysis/analysis_window.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <set>

#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/panels/widgets.h"

namespace pulsaro {

namespace {

// The running row's progress, 0..1, in the State column; nothing otherwise.
constexpr int kProgressRole = Qt::UserRole;

QString pathText(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

// A tag's tab or line break would open a gap or a second line in the cell.
QString oneLine(const std::string& text) {
    QString line = fromStd(text);
    for (QChar& c : line) {
        if (c == u'\t' || c == u'\n' || c == u'\r') {
            c = u' ';
        }
    }
    return line;
}

QString twoDecimals(double value) {
    return QLocale().toString(value, 'f', 2);
}

QString percentText(double fraction) {
    return QLocale().toString(static_cast<int>(std::floor(fraction * 100))) + QStringLiteral(" %");
}

}  // namespace

// One line per row of the batch, in the batch's numbering.
class AnalysisTableModel final : public QAbstractTableModel {
public:
    enum class RowState { Waiting, Running, Finished, Cancelled };
    struct Row {
        FileAnalysis result;
        RowState state = RowState::Waiting;
        double progress = 0;
    };

    explicit AnalysisTableModel(QObject* parent) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : AnalysisWindow::ColumnCount;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static constexpr const char* kHeadings[] = {
            res::kAnalysisColumnFile,   res::kAnalysisColumnArtist, res::kAnalysisColumnAlbum,
            res::kAnalysisColumnTitle,  res::kAnalysisColumnBpm,    res::kAnalysisColumnUncertainty,
            res::kAnalysisColumnTagBpm, res::kAnalysisColumnState};
        if (orientation != Qt::Horizontal || section < 0 ||
            section >= AnalysisWindow::ColumnCount) {
            return {};
        }
        if (role == Qt::DisplayRole) {
            return tr8(kHeadings[section]);
        }
        if (role == Qt::TextAlignmentRole && isNumber(section)) {
            return int(Qt::AlignRight | Qt::AlignVCenter);
        }
        return {};
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) {
            return {};
        }
        const Row& row = rows_[static_cast<std::size_t>(index.row())];
        const FileAnalysis& result = row.result;
        const int column = index.column();
        if (role == Qt::TextAlignmentRole) {
            return isNumber(column) ? int(Qt::AlignRight | Qt::AlignVCenter)
                                    : int(Qt::AlignLeft | Qt::AlignVCenter);
        }
        if (role == kProgressRole) {
            return column == AnalysisWindow::State && row.state == RowState::Running
                       ? QVariant(row.progress)
                       : QVariant();
        }
        if (role == Qt::ToolTipRole) {
            if (column == AnalysisWindow::File) {
                return pathText(result.file);
            }
            if (column == AnalysisWindow::State && row.state == RowState::Finished &&
                !result.error.empty()) {
                return fromStd(result.errorMessage());
            }
            return {};
        }
        if (role != Qt::DisplayRole) {
            return {};
        }
        switch (column) {
            case AnalysisWindow::File:
                return pathText(result.file.filename());
            case AnalysisWindow::Artist:
                return oneLine(result.tags.artist);
            case AnalysisWindow::Album:
                return oneLine(result.tags.album);
            case AnalysisWindow::Title:
                return oneLine(result.tags.title);
            case AnalysisWindow::Bpm:
                return result.hasTempo() ? twoDecimals(result.estimate->bpm) : QString();
            case AnalysisWindow::Uncertainty:
                return result.hasTempo() ? twoDecimals(result.estimate->uncertainty) : QString();
            case AnalysisWindow::TagBpm:
                return result.tags.bpm ? QLocale().toString(*result.tags.bpm, 'f',
                                                            QLocale::FloatingPointShortest)
                                       : QString();
            case AnalysisWindow::State:
                return stateText(row);
            default:
                return {};
        }
    }

    static QString stateText(const Row& row) {
        switch (row.state) {
            case RowState::Waiting:
                return tr8(res::kAnalysisWaiting);
            case RowState::Running:
                return percentText(row.progress);
            case RowState::Cancelled:
                return tr8(res::kAnalysisCancelled);
            case RowState::Finished:
                break;
        }
        if (!row.result.error.empty()) {
            return oneLine(row.result.error);
        }
        return tr8(row.result.tempoChanges() ? res::kTempoChanges : res::kAnalysisDone);
    }

    void add(int row, const std::filesystem::path& file) {
        // The batch numbers its rows as this model does: always appended.
        beginInsertRows({}, row, row);
        rows_.push_back({});
        rows_.back().result.file = file;
        endInsertRows();
    }
    void start(int row) {
        change(row, [](Row& r) { r.state = RowState::Running; });
    }
    void progress(int row, double fraction) {
        change(
            row, [fraction](Row& r) { r.progress = fraction; }, AnalysisWindow::State);
    }
    void finish(int row, const FileAnalysis& result) {
        change(row, [&result](Row& r) {
            r.state = RowState::Finished;
            r.result = result;
        });
    }
    void cancel(int row) {
        change(row, [](Row& r) { r.state = RowState::Cancelled; });
    }

    const Row& row(int row) const { return rows_[static_cast<std::size_t>(row)]; }

private:
    static bool isNumber(int column) {
        return column == AnalysisWindow::Bpm || column == AnalysisWindow::Uncertainty ||
               column == AnalysisWindow::TagBpm;
    }

    template <class Change>
    void change(int row, Change&& apply, int onlyColumn = -1) {
        if (row < 0 || row >= rowCount()) {
            return;
        }
        apply(rows_[static_cast<std::size_t>(row)]);
        const int first = onlyColumn < 0 ? 0 : onlyColumn;
        const int last = onlyColumn < 0 ? AnalysisWindow::ColumnCount - 1 : onlyColumn;
        emit dataChanged(index(row, first), index(row, last));
    }

    std::vector<Row> rows_;
};

namespace {

// Draws a running row's State cell as a progress bar.
class ProgressDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QVariant fraction = index.data(kProgressRole);
        if (!fraction.isValid()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        cell.text.clear();
        QStyle* style = cell.widget != nullptr ? cell.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, cell.widget);

        QStyleOptionProgressBar bar;
        bar.QStyleOption::operator=(option);
        bar.rect = option.rect.adjusted(2, 2, -2, -2);
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = static_cast<int>(std::floor(fraction.toDouble() * 100));
        bar.text = percentText(fraction.toDouble());
        bar.textVisible = true;
        bar.textAlignment = Qt::AlignCenter;
        bar.state = QStyle::State_Enabled | QStyle::State_Horizontal;
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, cell.widget);
    }
};

}  // namespace

AnalysisWindow::AnalysisWindow(FileAnalyser& analyser, QWidget* parent)
    : QWidget(parent, Qt::Window),
      batch_(analyser),
      model_(new AnalysisTableModel(this)),
      table_(new QTableView(this)),
      progress_(new QProgressBar(this)),
      count_(new QLabel(this)),
      cancel_(new QPushButton(tr8(res::kAnalysisCancel), this)),
      save_(new QPushButton(tr8(res::kAnalysisSave), this)),
      close_(new QPushButton(tr8(res::kAnalysisClose), this)) {
    setObjectName(QStringLiteral("frmAnalysis"));
    setWindowTitle(tr8(res::kAnalysisCaption));
    setFont(windowFont(8));
    setAcceptDrops(true);

    table_->setObjectName(QStringLiteral("tblAnalysis"));
    table_->setModel(model_);
    table_->setItemDelegateForColumn(State, new ProgressDelegate(table_));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideRight);
    table_->verticalHeader()->hide();
    table_->setToolTip(tr8(res::kHintAnalysisTable));
    progress_->setObjectName(QStringLiteral("barAnalysis"));
    progress_->setRange(0, 1000);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    count_->setObjectName(QStringLiteral("lblAnalysisCount"));
    cancel_->setObjectName(QStringLiteral("btnAnalysisCancel"));
    cancel_->setToolTip(tr8(res::kHintAnalysisCancel));
    save_->setObjectName(QStringLiteral("btnAnalysisSave"));
    save_->setToolTip(tr8(res::kHintAnalysisSave));
    close_->setObjectName(QStringLiteral("btnAnalysisClose"));
    // Enter in the table means "take this tempo", never a button.
    for (QPushButton* button : {cancel_, save_, close_}) {
        button->setAutoDefault(false);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(progress_, 1);
    buttons->addWidget(count_);
    buttons->addSpacing(8);
    buttons->addWidget(cancel_);
    buttons->addWidget(save_);
    buttons->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);

    connect(&batch_, &AnalysisBatch::rowAdded, model_, &AnalysisTableModel::add);
    connect(&batch_, &AnalysisBatch::rowStarted, model_, &AnalysisTableModel::start);
    connect(&batch_, &AnalysisBatch::rowProgress, model_, &AnalysisTableModel::progress);
    connect(&batch_, &AnalysisBatch::rowFinished, model_, &AnalysisTableModel::finish);
    connect(&batch_, &AnalysisBatch::rowCancelled, model_, &AnalysisTableModel::cancel);
    connect(&batch_, &AnalysisBatch::rowAdded, this, &AnalysisWindow::updateControls);
    connect(&batch_, &AnalysisBatch::rowFinished, this, &AnalysisWindow::updateControls);
    connect(&batch_, &AnalysisBatch::rowCancelled, this, &AnalysisWindow::updateControls);
    connect(&batch_, &AnalysisBatch::batchProgress, this, [this](double fraction) {
        progress_->setValue(static_cast<int>(std::lround(fraction * 1000)));
    });
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &AnalysisWindow::updateControls);
    connect(table_, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { chooseRow(index.row()); });
    connect(cancel_, &QPushButton::clicked, &batch_, &AnalysisBatch::cancel);
    connect(save_, &QPushButton::clicked, this, &AnalysisWindow::saveSelected);
    connect(close_, &QPushButton::clicked, this, &QWidget::close);

    fitColumns();
    updateControls();
    resize(1000, 420);
}

AnalysisWindow::~AnalysisWindow() = default;

void AnalysisWindow::addFiles(const QStringList& paths) {
    std::vector<std::filesystem::path> inputs;
    inputs.reserve(static_cast<std::size_t>(paths.size()));
    for (const QString& path : paths) {
        inputs.emplace_back(QFile::encodeName(path).toStdString());
    }
    batch_.add(inputs);
}

const FileAnalysis* AnalysisWindow::result(int row) const {
    if (row < 0 || row >= model_->rowCount()) {
        return nullptr;
    }
    const AnalysisTableModel::Row& r = model_->row(row);
    return r.state == AnalysisTableModel::RowState::Finished ? &r.result : nullptr;
}

void AnalysisWindow::chooseRow(int row) {
    const FileAnalysis* chosen = result(row);
    if (chosen == nullptr || !chosen->hasTempo()) {
        return;
    }
    emit tempoChosen(chosen->estimate->bpm, fromStd(chosen->tags.artist),
                     fromStd(chosen->tags.album), fromStd(chosen->tags.title));
}

void AnalysisWindow::saveSelected() {
    std::set<int> rows;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        rows.insert(index.row());
    }
    std::vector<FileAnalysis> chosen;
    for (const int row : rows) {
        if (const FileAnalysis* r = result(row); r != nullptr && r->hasTempo()) {
            chosen.push_back(*r);
        }
    }
    if (!chosen.empty()) {
        emit saveRequested(chosen);
    }
}

void AnalysisWindow::updateControls() {
    cancel_->setEnabled(batch_.running());
    bool savable = false;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        const FileAnalysis* r = result(index.row());
        savable = savable || (r != nullptr && r->hasTempo());
    }
    save_->setEnabled(savable);
    const int rows = batch_.rowCount();
    count_->setText(rows == 0 ? tr8(res::kAnalysisDropHint)
                              : tr8(res::kAnalysisCount).arg(rows - batch_.openCount()).arg(rows));
}

void AnalysisWindow::fitColumns() {
    const QFontMetrics metrics(table_->font());
    const int margin = 2 * (table_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 8;
    const auto widest = [&](std::initializer_list<QString> texts) {
        int width = 0;
        for (const QString& text : texts) {
            width = std::max(width, metrics.horizontalAdvance(text));
        }
        return width + margin;
    };
    QHeaderView* header = table_->horizontalHeader();
    header->setStretchLastSection(true);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setMinimumSectionSize(24);
    // Bold headings for every column whenever a row is selected only look
    // heavier; rows as high as the text, not the style's roomier default.
    header->setHighlightSections(false);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(metrics.height() + 8);
    const auto setWidth = [&](int column, int width) {
        table_->setColumnWidth(column, std::max(width, header->sectionSizeHint(column)));
    };
    // The State column takes what is left: an error's text is the longest.
    setWidth(File, 200);
    setWidth(Artist, 120);
    setWidth(Album, 120);
    setWidth(Title, 140);
    setWidth(Bpm, widest({twoDecimals(888.88)}));
    setWidth(Uncertainty, widest({twoDecimals(88.88)}));
    setWidth(TagBpm, widest({QLocale().toString(888.88, 'f', 2)}));
    setWidth(State,
             widest({tr8(res::kAnalysisWaiting), tr8(res::kAnalysisDone), tr8(res::kTempoChanges),
                     tr8(res::kAnalysisCancelled), tr8(res::kNoBeatFound), percentText(1.0)}));
}

void AnalysisWindow::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); })) {
        event->acceptProposedAction();
    }
}

void AnalysisWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            paths.append(url.toLocalFile());
        }
    }
    if (!paths.isEmpty()) {
        event->acceptProposedAction();
        addFiles(paths);
    }
}

void AnalysisWindow::closeEvent(QCloseEvent* event) {
    batch_.cancel();
    QWidget::closeEvent(event);
}

}  // namespace pulsaro
