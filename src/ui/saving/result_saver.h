#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/result_file.h"

class QWidget;

namespace pulsaro {

class AppServices;
class BpmPanel;
class DelayPanel;
class MpmPanel;
class RegistryKey;
class SavePanel;
class TapModel;
class TickTimer;

// Keeping a measurement: the save panel's flow, Save and QuickSave, the
// "Saving..." notes, the locked names, the current result file and the copy
// to the clipboard.
// A tempo found by analysing a file, with the names its tags give.
struct AnalysedTempo {
    Fixed tempo = 0;
    QString artist;
    QString album;
    QString title;
};

class ResultSaver final : public QObject {
    Q_OBJECT

public:
    struct Parts {
        AppServices& services;
        TapModel& tap;
        // The parent of the message boxes.
        QWidget& window;
        SavePanel& savePanel;
        BpmPanel& bpmPanel;
        MpmPanel& mpmPanel;
        DelayPanel& delayPanel;
    };

    ResultSaver(const Parts& parts, QObject* parent);
    ~ResultSaver() override;

    // The result file that saving appends to.
    const QString& resultFile() const { return resultFile_; }
    // Makes path the current result file and shows it in the save panel.
    void setResultFile(const QString& path);
    // The same from the name's bytes, kept exactly (a name that is not UTF-8
    // is saved to as it is; only its display is approximate).
    void setResultFileName(const std::string& bytes);
    // The save panel's New file: a new default name, stored at once.
    void chooseNewResultFile();

    // Names read back at start-up; their locks are checked when the save
    // panel next opens.
    void restoreLockedNames(const QString& artist, const QString& album);
    // The locked names into key, or on their own when the rest of the exit
    // settings could not be written.
    void keepLockedNames(RegistryKey& key);
    void storeLockedNames();

    // The File menu's Save: the save panel for the measurement on show.
    void openPanel(std::int32_t displayMode);
    // The save panel's Save: the record of the measurement's kind, with the
    // names typed.
    void saveFromPanel();
    void quickSave();
    void copyValues();
    // The names of an analysed file into the save panel's boxes.
    void offerNames(const AnalysedTempo& analysed);
    // Names for the save panel's empty, unlocked boxes only.
    void fillEmptyNames(const QString& artist, const QString& album, const QString& title);
    // One full BPM record a file, each with its tags' names; stops at the
    // first that cannot be written (reported with its cause). The number
    // written.
    std::size_t saveAnalysed(const std::vector<AnalysedTempo>& analysed);

    // The system ids of the timers that hide the "Saving..." notes, for a
    // test's second to pass at once.
    std::vector<int> savingNoteTimers() const;

signals:
    // The save panel takes the mode panel's place; the measurement stops.
    void panelOpening();
    // The save panel is open and ready for typing.
    void panelOpened();
    // A record was written; a full save closes the panel.
    void recordSaved(bool full);
    void commandsChanged();

private:
    // True when the record was written.
    bool saveBpmRecord(SaveType type);
    bool saveMpmRecord(SaveType type);
    // Writes the record with the names of a full save; on success clears what
    // a save clears.
    bool finishSave(Record& record);
    char fileDelimiter();
    // Appends the record to the result file; a failure is reported with its
    // cause. Either way the "Saving..." labels go a second later.
    bool writeRecord(const Record& record);
    void hideSavingNotes();

    AppServices& services_;
    TapModel& tap_;
    QWidget& window_;
    SavePanel& savePanel_;
    BpmPanel& bpmPanel_;
    MpmPanel& mpmPanel_;
    DelayPanel& delayPanel_;
    QString resultFile_;
    std::string resultFileName_;
    // The one-shot timers that hide the "Saving..." labels, newest last.
    std::vector<std::unique_ptr<TickTimer>> savingTimers_;
};

}  // namespace pulsaro
