#include "ui/analysis/command_line_analysis.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "media/audio_files.h"
#include "ui/analysis/file_analysis.h"
#include "ui/common/string_resources.h"

namespace pulsaro {

namespace {

constexpr char kHeader[] = "file\tbpm\tuncertainty\tfirst_beat_s\tartist\talbum\ttitle\tnote\n";

// Fixed decimals with '.', whatever the locale says.
std::string fixed(double value, int decimals) {
    std::array<char, 64> text{};
    const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value,
                                            std::chars_format::fixed, decimals);
    return error == std::errc() ? std::string(text.data(), end) : std::string();
}

// A tab or line break inside a field would split the line for the reader.
std::string field(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return text;
}

void printRow(const FileAnalysis& row, std::ostream& out, std::ostream& err) {
    std::string note = row.error;
    out << field(row.file.string()) << '\t';
    if (row.hasTempo()) {
        out << fixed(row.estimate->bpm, 2) << '\t' << fixed(row.estimate->uncertainty, 2) << '\t'
            << fixed(row.estimate->firstBeatSeconds, 3);
        if (row.tempoChanges()) {
            note = res::kTempoChanges;
        }
    } else {
        out << "\t\t";
    }
    out << '\t' << field(row.tags.artist) << '\t' << field(row.tags.album) << '\t'
        << field(row.tags.title) << '\t' << field(note) << '\n';
    out.flush();
    if (!row.hasTempo()) {
        err << "pulsaro: " << row.errorMessage() << '\n';
    }
}

}  // namespace

int runAnalyzeCommand(const std::vector<std::string>& inputs, std::ostream& out,
                      std::ostream& err) {
    AudioFileAnalyser analyser;
    return runAnalyzeCommand(inputs, out, err, analyser);
}

int runAnalyzeCommand(const std::vector<std::string>& inputs, std::ostream& out, std::ostream& err,
                      FileAnalyser& analyser, unsigned threads) {
    if (inputs.empty()) {
        err << "pulsaro: " << res::kAnalyzeNeedsInput << '\n';
        return 2;
    }
    const std::vector<media::InputEntry> entries =
        media::collectAudioFiles({inputs.begin(), inputs.end()});
    if (entries.empty()) {
        err << "pulsaro: " << res::kAnalyzeNoFiles << '\n';
        return 1;
    }

    std::vector<std::optional<FileAnalysis>> results(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i].problem.empty()) {
            results[i] = FileAnalysis{entries[i].file, {}, std::nullopt, entries[i].problem};
        }
    }
    std::mutex mutex;
    std::condition_variable ready;
    std::atomic<std::size_t> next{0};
    const std::atomic<bool> never{false};
    const auto work = [&] {
        for (std::size_t i = next++; i < entries.size(); i = next++) {
            if (!entries[i].problem.empty()) {
                continue;
            }
            FileAnalysis result;
            try {
                result = analyser.analyse(entries[i].file, {}, never);
            } catch (const std::exception& error) {
                result = FileAnalysis{entries[i].file, {}, std::nullopt, error.what()};
            }
            const std::lock_guard lock(mutex);
            results[i] = std::move(result);
            ready.notify_all();
        }
    };
    if (threads == 0) {
        threads = std::max(1U, std::thread::hardware_concurrency());
    }
    std::vector<std::jthread> workers;
    for (unsigned t = 0; t < std::min<std::size_t>(threads, entries.size()); ++t) {
        workers.emplace_back(work);
    }

    // Lines come out in input order as soon as the ones before them are done.
    out << kHeader;
    bool allAnalysed = true;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::unique_lock lock(mutex);
        ready.wait(lock, [&] { return results[i].has_value(); });
        const FileAnalysis row = std::move(*results[i]);
        results[i].reset();
        lock.unlock();
        printRow(row, out, err);
        allAnalysed = allAnalysed && row.hasTempo();
    }
    return allAnalysed ? 0 : 1;
}

}  // namespace pulsaro
