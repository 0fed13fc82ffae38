#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/fixed_point.h"

namespace pulsaro {

// The stored values are those of the settings and menus.
enum class SaveType : std::int32_t { BpmFull = 0, BpmQuick = 1, MpmFull = 2, MpmQuick = 3 };

// One measurement as the user saves it. Texts are UTF-8. In the file a field
// holding the delimiter or a double quote is put in double quotes, its quotes
// doubled ("12"" Mix"), and control characters (codes 0..31, 127) in artist,
// album and track become spaces first.
struct Record {
    SaveType type = SaveType::BpmFull;
    std::string bpm;     // bpmText() of the current tempo; the MPM values are derived from it
    std::string pitch;   // pitchFieldText() of the pitch-range caption (BPM types)
    std::string delay;   // delayText() (BPM types)
    std::string artist;  // artist, album and track: full types only
    std::string album;
    std::string track;
};

// A record that could not be written; the message names the file and the
// system's reason.
class ResultFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// No result file is chosen (an empty name): nothing is written.
class NoResultFileError : public ResultFileError {
public:
    using ResultFileError::ResultFileError;
};

// Field delimiter for the stored setting: 0 TAB, 1 ',', 2 ';', anything else
// or nothing TAB.
char delimiterFor(std::optional<std::int32_t> stored);

// The tempo with pattern ".#": 128 -> "128", 127.6543 -> "127.7".
std::string bpmText(Fixed tempo, std::string_view decimalSeparator);

// 60000 / tempo milliseconds with pattern ".#": 128 -> "468.8". Throws
// ArithmeticError for a zero tempo.
std::string delayText(Fixed tempo, std::string_view decimalSeparator);

// What follows the first colon of the caption (the whole caption when it has
// none), without leading or trailing characters of code 0..32:
// "Pitchrange(±8%): 118 - 138" -> "118 - 138".
std::string pitchFieldText(std::string_view labelCaption);

// Where the quick types save beside the result file: "<folder>Q_<name>", the
// folder being everything up to the last '/', folder and name trimmed of
// codes 0..32. "/m/beats.csv" -> "/m/Q_beats.csv", "beats.csv" ->
// "Q_beats.csv", "set 12:30.csv" -> "Q_set 12:30.csv"; "" (no result file) -> "".
std::string quickSaveFileName(std::string_view resultFileName);

// Appends the record as one CR LF line to the result file, or for the quick
// types to quickSaveFileName(resultFileName), and returns the name written.
// A new file starts with the header line of the record's type; an existing
// file (even an empty one) gets none, and a missing final line break is
// added first. All of it goes out in one write and is flushed to disk before
// returning. Throws ResultFileError when the file cannot be written (the file
// is then left as it was: a partial write is cut back, a file this call
// created is removed), std::invalid_argument when an MPM record's BPM text is
// not a number in decimalSeparator, NoResultFileError for an empty name.
// A record appended to an existing file whose first line is exactly the
// header line of any type with TAB, ',' or ';' takes that delimiter instead of
// the one given, so the file stays readable after the setting changed. Fields
// are quoted and names blanked as told at Record.
// Only a regular file is written: a pipe, a device or a name with a NUL is
// refused, and so is a symbolic link that another account could have made
// (one not owned by the user or root, or in a folder others may write). A
// file or folder without any write bit counts as read-only even for root.
std::string saveRecord(const std::string& resultFileName, const Record& record, char delimiter,
                       std::string_view decimalSeparator);

}  // namespace pulsaro
