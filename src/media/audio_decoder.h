#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <span>

#include "media/media_error.h"

namespace pulsaro::media {

// Decodes one audio file, block by block, to mono float samples (full scale
// +-1) at the sample rate asked for: channels mixed to their mean, resampled
// by libswresample. Only a frame or two is held at a time, so a three-hour
// mix decodes in the same memory as a song.
//
// The music stays where the source had it: the encoder's start delay (MP3's
// LAME/Xing gapless info, AAC priming in an M4A's edit list, Opus pre-skip)
// is dropped, so a beat at 1.000 s in the source is at 1.000 s in the
// output; so is the end padding, except an M4A's last AAC frame (up to
// 23 ms of silence stays at the end). Files that do not record their delay
// play late by it: raw .aac (ADTS), and MP3 without a LAME/Xing header.
// Audio lost to damage (a packet that fails to decode, an Ogg page that
// fails its checksum, a garbled stretch of an MP3) is replaced by silence of
// the length the timestamps say, which keeps the later beats in place too;
// an MP3 has none, so there the damaged bytes over the mean frame size give
// the length, right to a frame (26 ms) or so. A file cut short decodes up to
// the cut (secondsDecoded() then stops short of durationSeconds()).
//
//     AudioDecoder decoder(path, 22050);        // throws MediaError
//     std::vector<float> block(4096);
//     while (std::size_t n = decoder.read(block)) {
//         analyse(std::span(block).first(n));     // progress: secondsDecoded() / durationSeconds()
//     }
//
// Any format this FFmpeg build reads is taken (MP3, FLAC, WAV, AIFF, Ogg
// Vorbis, Opus, M4A/AAC, WMA, ...); of several audio streams, FFmpeg's pick
// of the main one is decoded (cover pictures and video are ignored). Not
// thread-safe; one decoder per thread, any number of them at once.
class AudioDecoder {
public:
    // Opens the file and its decoder. Throws MediaError when the path does
    // not exist, is a folder, a FIFO, a device or an empty file (looked at
    // with stat() before anything opens it), cannot be opened (permission),
    // is not a format FFmpeg reads, or holds no audio stream it can decode.
    // Throws std::invalid_argument for an output rate outside 1000..384000 Hz.
    AudioDecoder(const std::filesystem::path& file, int outputSampleRate);
    ~AudioDecoder();
    AudioDecoder(AudioDecoder&&) noexcept;
    AudioDecoder& operator=(AudioDecoder&&) noexcept;
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // Fills mono with the next samples and returns how many; fewer than
    // mono.size() only at the end, then 0. Throws MediaError on a read error
    // of the file, or at the end when nothing at all could be decoded (every
    // packet damaged, or an audio stream without samples).
    std::size_t read(std::span<float> mono);

    const std::filesystem::path& file() const;
    int outputSampleRate() const;
    // Length as the container tells it (an estimate for some MP3s); 0 when unknown.
    double durationSeconds() const;
    // Seconds of output returned by read() so far.
    double secondsDecoded() const;
    // Packets skipped because they did not decode (damaged frames).
    int skippedPackets() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pulsaro::media
