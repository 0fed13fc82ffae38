#include "ui/analysis/file_analysis.h"

#include <cmath>
#include <exception>
#include <utility>
#include <vector>

#include "media/audio_decoder.h"
#include "ui/common/string_resources.h"

namespace pulsaro {

namespace {

// A third of a second at 11025 Hz: cancel is looked at that often.
constexpr std::size_t kBlockSamples = 4096;

}  // namespace

AudioFileAnalyser::AudioFileAnalyser(analysis::AnalysisOptions options)
    : options_(std::move(options)) {}

FileAnalysis AudioFileAnalyser::analyse(const std::filesystem::path& file,
                                        const std::function<void(double)>& progress,
                                        const std::atomic<bool>& cancel) {
    FileAnalysis result;
    result.file = file;
    result.tags = media::readTags(file);
    try {
        media::AudioDecoder decoder(file, static_cast<int>(std::lround(options_.sampleRate)));
        analysis::AnalysisOptions options = options_;
        if (decoder.durationSeconds() > 0) {
            options.expectedSeconds = decoder.durationSeconds();
        }
        analysis::TempoAnalyser analyser(options);
        std::vector<float> block(kBlockSamples);
        while (const std::size_t count = decoder.read(block)) {
            if (cancel.load(std::memory_order_relaxed)) {
                throw analysis::AnalysisCancelled();
            }
            analyser.feed(std::span<const float>(block).first(count));
            if (progress) {
                progress(analyser.progress());
            }
        }
        analysis::TempoEstimate estimate = analyser.finish(&cancel);
        if (estimate.outcome == analysis::Outcome::NoBeat) {
            result.error = res::kNoBeatFound;
        } else {
            result.estimate = std::move(estimate);
        }
    } catch (const analysis::AnalysisCancelled&) {
        throw;
    } catch (const media::MediaError& error) {
        result.error = error.reason();
    } catch (const std::exception& error) {
        result.error = error.what();
    }
    if (progress) {
        progress(1.0);
    }
    return result;
}

}  // namespace pulsaro
