#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pulsaro::media {

// What a file's tags say, in UTF-8. A tag that is missing is an empty string.
struct Tags {
    std::string artist;
    std::string album;
    std::string title;
    // The tempo the file already carries (ID3v2 TBPM, a Vorbis, FLAC or Opus
    // comment BPM, MP4 tmpo, APE BPM), when it reads as a plausible tempo.
    std::optional<double> bpm;

    bool operator==(const Tags&) const = default;
};

// Reads the tags with TagLib. Never throws: a file that cannot be read, or a
// tag block TagLib cannot parse, gives empty tags (the decoder reports what
// is wrong with the file). Like the decoder it looks at the path with stat()
// first and opens nothing but regular files.
Tags readTags(const std::filesystem::path& file) noexcept;

// A BPM tag's text as a tempo: "128", "127.5", "128,00" (a decimal comma),
// "126 BPM". Nothing for an empty text, one that does not start with a
// number, or a tempo outside 1..999.
std::optional<double> parseBpmTag(std::string_view text);

}  // namespace pulsaro::media
