#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pulsaro::media {

// One row of the list to analyse: a file to decode, or a problem with an input.
struct InputEntry {
    std::filesystem::path file;
    std::string problem;  // empty when the file is to be decoded

    bool operator==(const InputEntry&) const = default;
};

// Whether a name ends in one of the audio extensions taken from folders,
// in any case: aac aif aifc aiff ape caf flac m4a mka mp2 mp3 mp4 oga ogg
// opus wav wma wv.
bool hasAudioExtension(const std::filesystem::path& file);

// The files to analyse, from files and folders named on a command line or
// dropped on the window, in the order given.
//
// - A file named explicitly is always taken, whatever its name (the decoder
//   says if it is not audio); so is an explicitly named hidden file or folder.
// - A folder is walked recursively: its entries in byte order of their names
//   (strcmp, the same in every locale: "B.mp3" before "a.mp3"), a subfolder's
//   files at the subfolder's place. From folders only regular files with an
//   audio extension are taken; hidden entries (names starting with ".", such
//   as macOS's "._song.mp3" resource files and ".Trash") are skipped, and so
//   are FIFOs, devices and sockets.
// - Symbolic links are followed. A link back to a folder being walked gives
//   a problem row and is not followed; a file or folder reached a second way
//   (another link, or named again) is listed only once.
// - Problem rows: an input that does not exist, a folder that cannot be
//   read, a link loop, a link with an audio name that points nowhere.
std::vector<InputEntry> collectAudioFiles(const std::vector<std::filesystem::path>& inputs);

}  // namespace pulsaro::media
