#pragma once

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "ui/analysis/file_analysis.h"

namespace pulsaro::testing {

// Answers from a script keyed by file name; a file marked `hold` runs until
// cancelled, reporting progress in many small steps meanwhile.
class FakeAnalyser final : public FileAnalyser {
public:
    struct Script {
        double bpm = 0;  // 0: no beat
        std::string error;
        analysis::Outcome outcome = analysis::Outcome::Constant;
        media::Tags tags;
        bool hold = false;
    };

    FileAnalysis analyse(const std::filesystem::path& file,
                         const std::function<void(double)>& progress,
                         const std::atomic<bool>& cancel) override {
        // Scripts are set before the run; workers only read them.
        const auto found = scripts.find(file.filename().string());
        const Script script = found != scripts.end() ? found->second : Script{};
        for (int step = 0; script.hold; ++step) {
            if (cancel) {
                throw analysis::AnalysisCancelled();
            }
            if (progress && step < 1000) {
                progress(step / 1000.0);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        FileAnalysis result{file, script.tags, std::nullopt, script.error};
        if (script.error.empty() && script.bpm > 0) {
            result.estimate.emplace();
            result.estimate->outcome = script.outcome;
            result.estimate->bpm = script.bpm;
            result.estimate->uncertainty = 0.25;
            result.estimate->firstBeatSeconds = 0.1234;
        } else if (script.error.empty()) {
            result.error = "no beat found";
        }
        return result;
    }

    std::map<std::string, Script> scripts;
};

// Empty files to hand the batch: the folder walk needs them to exist.
inline QString touch(const QTemporaryDir& dir, const std::string& name) {
    const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
    std::ofstream(path).put('x');
    return QString::fromStdString(path);
}

}  // namespace pulsaro::testing
