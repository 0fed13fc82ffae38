#include "ui/window/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTextDocument>
#include <QWidget>
#include <algorithm>
#include <array>
#include <utility>

#include "ui/common/qt_text.h"
#include "ui/panels/widgets.h"
#include "ui/window/main_window.h"

namespace pulsaro {

namespace {

// What a screen reader says; kept here beside the rules that compose it.
namespace heard {
inline constexpr char kNoTempo[] = "no tempo yet";
inline constexpr char kNoTempoSentence[] = "No tempo yet";
inline constexpr char kBpm[] = "%1 BPM";
inline constexpr char kAverage[] = "Average %1 BPM";
inline constexpr char kAverageIdle[] = "Average: no tempo yet";
inline constexpr char kPitchRange[] = "Pitch range %1: %2 to %3";
inline constexpr char kPitchRangeIdle[] = "Pitch range %1: no tempo yet";
inline constexpr char kMeasures[] = "%1: %2 measures per minute";
inline constexpr char kMeasure[] = "%1: %2 measure per minute";
inline constexpr char kMilliseconds[] = "%1: %2 milliseconds";
inline constexpr char kUnknown[] = "unknown";
inline constexpr char kTriplet[] = "%1, in triplets";
inline constexpr char kStatus[] = "Status: %1";
inline constexpr char kTime[] = "Time: %1 seconds";
inline constexpr char kResultFile[] = "Result file: %1";
inline constexpr char kNoResultFile[] = "Result file: none chosen";
inline constexpr char kTempoBox[] = "Tempo in BPM";
inline constexpr char kMetronome[] = "Metronome";
inline constexpr char kArtist[] = "Artist or group";
inline constexpr char kAlbum[] = "Album";
inline constexpr char kTrack[] = "Track name";
inline constexpr char kLockArtist[] = "Lock artist";
inline constexpr char kLockAlbum[] = "Lock album";
inline constexpr char kBpmPanel[] = "BPM mode";
inline constexpr char kMpmPanel[] = "MPM mode";
inline constexpr char kDelayPanel[] = "Delay time calculator";
inline constexpr char kSavePanel[] = "Save";
inline constexpr char kPictureStrip[] = "Pulsaro";
inline constexpr char kPictureStripHint[] = "Right-click for the window menu.";
inline constexpr char kTimeSlot[] = "Time";
inline constexpr char kBeatsSlot[] = "Beats";
}  // namespace heard

// How a value label reads; the label's object name picks one.
enum class Reading {
    Tempo,
    Mean,
    PitchRange,
    Measures,
    Delay,
    Status,
    Time,
    ResultFile,
    Heading,
    // The text as it stands, spaces evened out.
    Plain,
};

struct Known {
    const char* name;
    Reading reading;
    // The spoken name of an MPM fraction or a delay row's note.
    const char* spoken = nullptr;
};

constexpr std::array kKnownLabels = {
    Known{"lblBPM_Value", Reading::Tempo},
    Known{"lblBPMinMPM", Reading::Tempo},
    Known{"lblMedelBPM", Reading::Mean},
    Known{"lblDelayMedel", Reading::Mean},
    Known{"lblPitchRange", Reading::PitchRange},
    Known{"lblMPM23", Reading::Measures, "Two thirds"},
    Known{"lblMPM2", Reading::Measures, "Half"},
    Known{"lblMPM3", Reading::Measures, "One third"},
    Known{"lblMPM4", Reading::Measures, "One quarter"},
    Known{"lblMPM8", Reading::Measures, "One eighth"},
    Known{"lblDelay2xWhole", Reading::Delay, "Two beats"},
    Known{"lblDelayWhole", Reading::Delay, "One beat"},
    Known{"lblDelayHalf", Reading::Delay, "Half a beat"},
    Known{"lblDelayQuarter", Reading::Delay, "A quarter of a beat"},
    Known{"lblDelayEight", Reading::Delay, "An eighth of a beat"},
    Known{"lblDelaySixteenth", Reading::Delay, "A sixteenth of a beat"},
    Known{"lblDelayThirtySecond", Reading::Delay, "A thirty-second of a beat"},
    Known{"lblCounterStatus", Reading::Status},
    Known{"lblCounterStatusMPM", Reading::Status},
    Known{"lblCounterStatusMSPB", Reading::Status},
    Known{"lblTimer", Reading::Time},
    Known{"lblBeats", Reading::Plain},
    Known{"lblFileName", Reading::ResultFile},
    Known{"label534", Reading::Heading},
    Known{"Label5", Reading::Heading},
    Known{"Label20", Reading::Heading},
    Known{"lblSaveCaption", Reading::Heading},
};

// Marks the labels of the main window that read by their meaning, so a label
// of the same name elsewhere (the settings dialog has an lblFileName) is left
// to Qt.
constexpr char kReadsByMeaning[] = "pulsaroReadsByMeaning";

const Known* knownLabel(const QLabel& label) {
    const QString name = label.objectName();
    for (const Known& known : kKnownLabels) {
        if (name == QLatin1String(known.name)) {
            return &known;
        }
    }
    return nullptr;
}

// "000", "00" and "0" are what the labels show before anything is measured.
bool idleValue(const QString& value) {
    static const QRegularExpression zeros(QStringLiteral("^0+$"));
    return zeros.match(value).hasMatch();
}

// The text after the label's own caption ("Avg: 120.0" → "120.0").
QString valueAfter(const QString& text, QChar separator) {
    const qsizetype at = text.indexOf(separator);
    return (at < 0 ? text : text.mid(at + 1)).trimmed();
}

QString tempoReading(const QString& value) {
    return idleValue(value) ? tr8(heard::kNoTempoSentence) : tr8(heard::kBpm).arg(value);
}

QString pitchReading(const QString& text) {
    // "Pitchrange(±8%): 110 - 130"
    static const QRegularExpression pattern(
        QStringLiteral(
            "^\\s*Pitch\\s*range\\s*\\(([^)]*?)\\s*%\\)\\s*:\\s*(\\S+)\\s*-\\s*(\\S+)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        return text;
    }
    const QString range = match.captured(1) + QStringLiteral(" %");
    if (idleValue(match.captured(2)) && idleValue(match.captured(3))) {
        return tr8(heard::kPitchRangeIdle).arg(range);
    }
    return tr8(heard::kPitchRange).arg(range, match.captured(2), match.captured(3));
}

QString measuresReading(const QString& text, const char* fraction) {
    const QString value = valueAfter(text, QLatin1Char('='));
    if (idleValue(value)) {
        return tr8(fraction) + QStringLiteral(": ") + tr8(heard::kNoTempo);
    }
    return tr8(value == QLatin1String("1") ? heard::kMeasure : heard::kMeasures)
        .arg(tr8(fraction), value);
}

QString delayReading(const QLabel& label, const QString& text, const char* note) {
    QString name = tr8(note);
    // The row captions stay the same while the panel shows triplets.
    const auto* triplets = label.parentWidget() != nullptr
                               ? label.parentWidget()->findChild<QLabel*>(
                                     QStringLiteral("lblTripletsON"), Qt::FindDirectChildrenOnly)
                               : nullptr;
    if (triplets != nullptr && !triplets->isHidden()) {
        name = tr8(heard::kTriplet).arg(name);
    }
    const QString value = valueAfter(text, QLatin1Char(':'));
    if (value == QLatin1String("?")) {
        return name + QStringLiteral(": ") + tr8(heard::kUnknown);
    }
    if (idleValue(value)) {
        return name + QStringLiteral(": ") + tr8(heard::kNoTempo);
    }
    return tr8(heard::kMilliseconds).arg(name, value);
}

QString statusReading(const QString& text) {
    // The status starts as "OFF", which a reader might spell out.
    QString word = text.trimmed();
    if (word.size() > 1 && word == word.toUpper()) {
        word = word.left(1) + word.mid(1).toLower();
    }
    return tr8(heard::kStatus).arg(word);
}

QString timeReading(const QString& text) {
    static const QRegularExpression leadingZeros(QStringLiteral("^0+(?=\\d)"));
    QString value = valueAfter(text, QLatin1Char(':'));
    value.remove(leadingZeros);
    return tr8(heard::kTime).arg(value);
}

QString headingReading(const QString& text) {
    // Letters spread out for the look ("B P M") are read as one word.
    static const QRegularExpression spread(QStringLiteral("^(\\S )+\\S$"));
    return spread.match(text).hasMatch() ? QString(text).remove(QLatin1Char(' ')) : text;
}

// A label as assistive technology sees it. Its name is worked out from its
// text each time it is asked, so it never lags behind the label; a value label
// of the window reads by its meaning ("120.0 BPM"). Its text, for braille
// displays and flat review, is exactly what the label draws ("120.0").
class LabelAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LabelAccessible(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name) {
            if (!label().accessibleName().isEmpty()) {
                return label().accessibleName();
            }
            return label().property(kReadsByMeaning).toBool() ? accessibleReading(label())
                                                              : drawn();
        }
        return QAccessibleWidget::text(kind);
    }

    QAccessible::Role role() const override {
        const Known* known = knownLabel(label());
        return known != nullptr && known->reading == Reading::Heading ? QAccessible::Heading
                                                                      : QAccessible::StaticText;
    }

    QList<std::pair<QAccessibleInterface*, QAccessible::Relation>> relations(
        QAccessible::Relation match) const override {
        auto found = QAccessibleWidget::relations(match);
        if ((match & QAccessible::Labelled) && label().buddy() != nullptr) {
            found.append(
                {QAccessible::queryAccessibleInterface(label().buddy()), QAccessible::Labelled});
        }
        return found;
    }

    // --- QAccessibleTextInterface: read-only, no caret, no selection.
    QString text(int startOffset, int endOffset) const override {
        return drawn().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(drawn().size()); }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    int selectionCount() const override { return 0; }
    void selection(int, int* startOffset, int* endOffset) const override {
        *startOffset = *endOffset = 0;
    }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = std::max(offset, characterCount());
        return {};
    }

    // Characters on screen, laid out on one line as the label aligns it.
    QRect characterRect(int offset) const override {
        const QString shown = drawn();
        if (offset < 0 || offset >= shown.size()) {
            return {};
        }
        const QFontMetrics metrics(label().font());
        const QRect line = textLine(metrics, shown);
        const int left = line.left() + metrics.horizontalAdvance(shown.left(offset));
        const int width = metrics.horizontalAdvance(shown.at(offset));
        const QRect local(left, line.top(), std::max(width, 1), line.height());
        return QRect(label().mapToGlobal(local.topLeft()), local.size());
    }

    int offsetAtPoint(const QPoint& point) const override {
        for (int i = 0; i < characterCount(); ++i) {
            if (characterRect(i).contains(point)) {
                return i;
            }
        }
        return -1;
    }

private:
    const QLabel& label() const { return *static_cast<const QLabel*>(widget()); }

    // The text as drawn: markup and a mnemonic's "&" are not drawn.
    QString drawn() const {
        const QString text = label().text();
        if (label().textFormat() == Qt::RichText ||
            (label().textFormat() == Qt::AutoText && Qt::mightBeRichText(text))) {
            QTextDocument document;
            document.setHtml(text);
            return document.toPlainText();
        }
        if (label().buddy() != nullptr) {
            QString shown = text;
            static const QRegularExpression mnemonic(QStringLiteral("&(.)"));
            return shown.replace(mnemonic, QStringLiteral("\\1"));
        }
        return text;
    }

    QRect textLine(const QFontMetrics& metrics, const QString& shown) const {
        const QRect area = label().contentsRect().adjusted(label().margin(), label().margin(),
                                                           -label().margin(), -label().margin());
        const QSize size(metrics.horizontalAdvance(shown), metrics.height());
        return QStyle::alignedRect(
            label().layoutDirection(),
            QStyle::visualAlignment(label().layoutDirection(), label().alignment()), size, area);
    }
};

QAccessibleInterface* labelFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("QLabel") || qobject_cast<QLabel*>(object) == nullptr) {
        return nullptr;
    }
    return new LabelAccessible(static_cast<QLabel*>(object));
}

}  // namespace

QString accessibleReading(const QLabel& label) {
    const QString text = label.text();
    const Known* known = knownLabel(label);
    if (known == nullptr) {
        return text;
    }
    switch (known->reading) {
        case Reading::Tempo:
            return tempoReading(valueAfter(text, QLatin1Char(':')));
        case Reading::Mean: {
            const QString value = valueAfter(text, QLatin1Char(':'));
            return idleValue(value) ? tr8(heard::kAverageIdle) : tr8(heard::kAverage).arg(value);
        }
        case Reading::PitchRange:
            return pitchReading(text);
        case Reading::Measures:
            return measuresReading(text, known->spoken);
        case Reading::Delay:
            return delayReading(label, text, known->spoken);
        case Reading::Status:
            return statusReading(text);
        case Reading::Time:
            return timeReading(text);
        case Reading::ResultFile:
            return text.isEmpty() ? tr8(heard::kNoResultFile) : tr8(heard::kResultFile).arg(text);
        case Reading::Heading:
            return headingReading(text);
        case Reading::Plain:
            return text.simplified();
    }
    return text;
}

void makeAccessible(MainWindow& form) {
    // Installing twice is harmless: Qt keeps one entry per factory.
    QAccessible::installFactory(labelFactory);
    for (const Known& known : kKnownLabels) {
        if (auto* label = form.findChild<QLabel*>(QString::fromLatin1(known.name))) {
            label->setProperty(kReadsByMeaning, true);
        }
    }
    for (QLabel* label : form.findChildren<QLabel*>()) {
        // With a screen reader already running, Qt may have made the label's
        // plain interface while the window was built; drop it so the next
        // question reaches the factory.
        QAccessibleInterface* existing = QAccessible::queryAccessibleInterface(label);
        if (existing != nullptr && dynamic_cast<LabelAccessible*>(existing) == nullptr) {
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(existing));
        }
    }

    // The controls by their names: the window builds them in its panels.
    const std::pair<const char*, const char*> names[] = {
        {"txtDelayBpm", heard::kTempoBox},
        {"cmdMetronomeDelay", heard::kMetronome},
        {"txtNameOfArtist", heard::kArtist},
        {"txtAlbumName", heard::kAlbum},
        {"txtTrackName", heard::kTrack},
        {"chkLockGroupName", heard::kLockArtist},
        {"chkLockAlbumName", heard::kLockAlbum},
        {"bpmPanel", heard::kBpmPanel},
        {"mpmPanel", heard::kMpmPanel},
        {"DelayPanel", heard::kDelayPanel},
        {"SaveToFilePanel", heard::kSavePanel},
        {"Image1", heard::kPictureStrip},
        {"Bevel1", heard::kTimeSlot},
        {"Bevel2", heard::kBeatsSlot},
    };
    for (const auto& [objectName, name] : names) {
        if (auto* widget = form.findChild<QWidget*>(QString::fromLatin1(objectName))) {
            widget->setAccessibleName(tr8(name));
        }
    }
    if (auto* strip = form.findChild<QWidget*>(QStringLiteral("Image1"))) {
        strip->setAccessibleDescription(tr8(heard::kPictureStripHint));
    }
}

}  // namespace pulsaro
