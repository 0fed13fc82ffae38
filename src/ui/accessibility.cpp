#include "ui/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QWidget>
#include <array>
#include <utility>

#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/widgets.h"

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

// A value label whose name is worked out from its text each time it is asked,
// so it never lags behind the label.
class ValueLabelAccessible final : public QAccessibleWidget {
public:
    explicit ValueLabelAccessible(QLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name) {
            const auto* label = static_cast<const QLabel*>(widget());
            return label->accessibleName().isEmpty() ? accessibleReading(*label)
                                                     : label->accessibleName();
        }
        return QAccessibleWidget::text(kind);
    }

    QAccessible::Role role() const override {
        const Known* known = knownLabel(*static_cast<const QLabel*>(widget()));
        return known != nullptr && known->reading == Reading::Heading ? QAccessible::Heading
                                                                      : QAccessible::StaticText;
    }
};

QAccessibleInterface* valueLabelFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("QLabel") || !object->property(kReadsByMeaning).toBool()) {
        return nullptr;
    }
    return new ValueLabelAccessible(static_cast<QLabel*>(object));
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
    QAccessible::installFactory(valueLabelFactory);
    for (const Known& known : kKnownLabels) {
        auto* label = form.findChild<QLabel*>(QString::fromLatin1(known.name));
        if (label == nullptr) {
            continue;
        }
        label->setProperty(kReadsByMeaning, true);
        // With a screen reader already running, Qt may have made the label's
        // plain interface while the window was built; drop it so the next
        // question reaches the factory.
        QAccessibleInterface* existing = QAccessible::queryAccessibleInterface(label);
        if (existing != nullptr && dynamic_cast<ValueLabelAccessible*>(existing) == nullptr) {
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
