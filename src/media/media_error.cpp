#include "media/media_error.h"

#include <utility>

namespace pulsaro::media {

MediaError::MediaError(std::filesystem::path file, std::string reason)
    : std::runtime_error(file.string() + ": " + reason),
      file_(std::move(file)),
      reason_(std::move(reason)) {}

}  // namespace pulsaro::media
