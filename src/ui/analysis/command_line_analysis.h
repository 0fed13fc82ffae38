#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pulsaro {

class FileAnalyser;

// `pulsaro --analyze FILE_OR_FOLDER...`: analyses the files on every core,
// without a window, and prints a header and one TAB-separated line per file
// in the order the inputs list them:
//
//     file  bpm  uncertainty  first_beat_s  artist  album  title  note
//
// Numbers use '.' in every locale; a file without a tempo has empty numbers
// and its reason in note, and its error on err as "pulsaro: <file>: <reason>".
// Returns 0 when every file has a tempo, 1 when any has not or no file was
// found, 2 without inputs (a usage error).
int runAnalyzeCommand(const std::vector<std::string>& inputs, std::ostream& out, std::ostream& err);
// The same with another analyser; threads 0 means one per core.
int runAnalyzeCommand(const std::vector<std::string>& inputs, std::ostream& out, std::ostream& err,
                      FileAnalyser& analyser, unsigned threads = 0);

}  // namespace pulsaro
