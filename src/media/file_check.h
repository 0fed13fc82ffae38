#pragma once

#include <filesystem>
#include <string>

namespace pulsaro::media {

// Why a path cannot be read as a media file, looked up with stat() only, so
// that a named pipe or a device is never opened (opening a FIFO blocks until
// a writer comes; a tape device may rewind). Empty when it is a regular,
// non-empty file. Not exported: the decoder and the tag reader share it.
std::string notAFileReason(const std::filesystem::path& file);

}  // namespace pulsaro::media
