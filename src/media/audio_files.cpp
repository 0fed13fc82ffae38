#include "media/audio_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <set>
#include <system_error>
#include <utility>

namespace pulsaro::media {

namespace {

// Sorted, for the binary search.
constexpr std::array<std::string_view, 18> kAudioExtensions = {
    "aac", "aif", "aifc", "aiff", "ape", "caf",  "flac", "m4a", "mka",
    "mp2", "mp3", "mp4",  "oga",  "ogg", "opus", "wav",  "wma", "wv"};

struct FileId {
    dev_t device;
    ino_t inode;
    auto operator<=>(const FileId&) const = default;
};

FileId idOf(const struct stat& st) {
    return {st.st_dev, st.st_ino};
}

bool isHidden(const std::string& name) {
    return !name.empty() && name.front() == '.';
}

class Walker {
public:
    std::vector<InputEntry> entries;

    void addInput(const std::filesystem::path& input) {
        struct stat st {};
        if (::stat(input.c_str(), &st) != 0) {
            const int error = errno;
            struct stat link {};
            if (::lstat(input.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
                problem(input, "is a link that points nowhere");
            } else if (error == ENOENT || error == ENOTDIR) {
                problem(input, "does not exist");
            } else {
                problem(input, std::string("cannot be looked at: ") + std::strerror(error));
            }
            return;
        }
        if (S_ISDIR(st.st_mode)) {
            if (walked_.insert(idOf(st)).second) {
                walk(input, idOf(st));
            }
            return;
        }
        addFile(input, idOf(st));
    }

private:
    std::set<FileId> files_;
    std::set<FileId> walked_;
    std::vector<std::pair<FileId, std::filesystem::path>> ancestors_;

    void problem(const std::filesystem::path& file, std::string text) {
        entries.push_back({file, std::move(text)});
    }

    void addFile(const std::filesystem::path& file, FileId id) {
        if (files_.insert(id).second) {
            entries.push_back({file, {}});
        }
    }

    void walk(const std::filesystem::path& folder, FileId id) {
        std::vector<std::string> names;
        std::error_code error;
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            std::string name = it->path().filename().native();
            if (!isHidden(name)) {
                names.push_back(std::move(name));
            }
        }
        if (error) {
            problem(folder, "folder cannot be read: " + error.message());
            return;
        }
        std::sort(names.begin(), names.end());
        ancestors_.emplace_back(id, folder);
        for (const std::string& name : names) {
            visit(folder / name);
        }
        ancestors_.pop_back();
    }

    void visit(const std::filesystem::path& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            // ENOENT for a name readdir() just gave is a dangling link; it is
            // worth a row only when it looks like audio.
            const int error = errno;
            if (hasAudioExtension(path)) {
                problem(path, error == ENOENT
                                  ? std::string("is a link that points nowhere")
                                  : std::string("cannot be looked at: ") + std::strerror(error));
            }
            return;
        }
        if (S_ISDIR(st.st_mode)) {
            const FileId id = idOf(st);
            const auto loop = std::find_if(ancestors_.begin(), ancestors_.end(),
                                           [&](const auto& a) { return a.first == id; });
            if (loop != ancestors_.end()) {
                problem(path, "links back to " + loop->second.string() + ", not followed");
            } else if (walked_.insert(id).second) {
                walk(path, id);
            }
            return;
        }
        if (S_ISREG(st.st_mode) && hasAudioExtension(path)) {
            addFile(path, idOf(st));
        }
    }
};

}  // namespace

bool hasAudioExtension(const std::filesystem::path& file) {
    const std::string& name = file.native();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot - 1 > 4 ||
        name.find('/', dot) != std::string::npos) {
        return false;
    }
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return std::binary_search(kAudioExtensions.begin(), kAudioExtensions.end(), extension);
}

std::vector<InputEntry> collectAudioFiles(const std::vector<std::filesystem::path>& inputs) {
    Walker walker;
    for (const std::filesystem::path& input : inputs) {
        walker.addInput(input);
    }
    return std::move(walker.entries);
}

}  // namespace pulsaro::media
