#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace pulsaro::media {

// A file that cannot be decoded. what() is "<file>: <reason>"; the reason
// carries the system's or FFmpeg's own words where there are any, so a row in
// the file list can show why without the caller parsing anything.
class MediaError : public std::runtime_error {
public:
    MediaError(std::filesystem::path file, std::string reason);

    const std::filesystem::path& file() const noexcept { return file_; }
    const std::string& reason() const noexcept { return reason_; }

private:
    std::filesystem::path file_;
    std::string reason_;
};

}  // namespace pulsaro::media
