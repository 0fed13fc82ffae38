#include "media/file_check.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace pulsaro::media {

std::string notAFileReason(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        const int error = errno;
        if (error == ENOENT) {
            return "does not exist";
        }
        return std::string("cannot be looked at: ") + std::strerror(error);
    }
    if (S_ISDIR(st.st_mode)) {
        return "is a folder, not a file";
    }
    if (S_ISFIFO(st.st_mode)) {
        return "is a named pipe (FIFO), not a file";
    }
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
        return "is a device, not a file";
    }
    if (S_ISSOCK(st.st_mode)) {
        return "is a socket, not a file";
    }
    if (!S_ISREG(st.st_mode)) {
        return "is not a regular file";
    }
    if (st.st_size == 0) {
        return "is empty (0 bytes)";
    }
    return {};
}

}  // namespace pulsaro::media
