#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "analysis/tempo_analyser.h"
#include "media/tags.h"

namespace pulsaro {

// What analysing one file gave: its tags and tempo, or why there is none.
struct FileAnalysis {
    std::filesystem::path file;
    media::Tags tags;
    // Present for Constant and TempoChanges; never for NoBeat or a failure.
    std::optional<analysis::TempoEstimate> estimate;
    // Why there is no tempo, without the file's name: the decoder's reason
    // ("Invalid data found when processing input"), an input's problem
    // ("does not exist") or "no beat found". Empty when a tempo was found.
    std::string error;

    bool hasTempo() const { return estimate.has_value() && error.empty(); }
    bool tempoChanges() const {
        return hasTempo() && estimate->outcome == analysis::Outcome::TempoChanges;
    }
    // "<file>: <reason>", the way the decoder words its errors.
    std::string errorMessage() const { return file.string() + ": " + error; }
};

// Analyses one file at a time; several threads may call analyse() at once.
class FileAnalyser {
public:
    virtual ~FileAnalyser() = default;
    // progress gets 0..1 now and then, on the calling thread. Throws
    // analysis::AnalysisCancelled soon after cancel becomes true; every other
    // failure ends up in the result's error.
    virtual FileAnalysis analyse(const std::filesystem::path& file,
                                 const std::function<void(double)>& progress,
                                 const std::atomic<bool>& cancel) = 0;
};

// Decodes the file block by block at the engine's rate and streams it into a
// TempoAnalyser, so memory does not grow with the file's length.
class AudioFileAnalyser final : public FileAnalyser {
public:
    // sampleRate is taken from options; expectedSeconds is each file's own.
    explicit AudioFileAnalyser(analysis::AnalysisOptions options = {});

    FileAnalysis analyse(const std::filesystem::path& file,
                         const std::function<void(double)>& progress,
                         const std::atomic<bool>& cancel) override;

private:
    analysis::AnalysisOptions options_;
};

}  // namespace pulsaro
