#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace pulsaro {

// A RIFF/WAVE file that cannot be used as a click.
class WavError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a WAV file holds, as read from its chunks.
struct WavInfo {
    std::uint16_t formatTag = 0;  // 1 = PCM
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint32_t formatChunkSize = 0;  // 16, or 18 with the extra-size field
    std::uint32_t dataBytes = 0;        // size of the "data" chunk
    std::uint32_t factFrames = 0;       // the "fact" chunk's frame count; 0 without one
    bool hasInfoList = false;           // a LIST chunk of type "INFO"
    std::size_t fileBytes = 0;          // the whole file

    bool operator==(const WavInfo&) const = default;
};

// Decoded samples, interleaved, full scale at +-1.
struct PcmSound {
    std::uint32_t sampleRate = 0;
    std::uint16_t channels = 0;
    std::vector<float> samples;

    std::size_t frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

// Reads the chunks of a RIFF/WAVE file (any chunk order, odd-sized chunks
// padded). Throws WavError for anything that is not a PCM WAVE file of 8 or
// 16 bits with 1 or 2 channels.
WavInfo readWavInfo(std::span<const std::uint8_t> file);

// Decodes the sample data (8-bit unsigned, 16-bit signed little-endian).
PcmSound decodeWav(std::span<const std::uint8_t> file);

// The sound at another rate and channel count (mono is copied to every
// channel, stereo mixed down to mono by the mean). Done once when a sound is
// loaded, never in the audio callback.
PcmSound convertSound(const PcmSound& sound, std::uint32_t sampleRate, std::uint16_t channels);

// Share of a sound's peak where its attack begins: well above the noise of
// 8-bit files, and within a few frames of a sharp front.
inline constexpr float kAttackFraction = 0.15f;

// The sound's attack, what a listener hears as its onset: the first frame in
// which some channel reaches kAttackFraction of the peak over all channels
// (0 for a silent or empty sound). What comes before is quiet lead-in.
std::size_t attackFrame(const PcmSound& sound);

}  // namespace pulsaro
