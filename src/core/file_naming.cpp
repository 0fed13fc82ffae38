#include "core/file_naming.h"

#include <stdexcept>
#include <vector>

namespace pulsaro {
namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

bool isDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// "/x", "\\server\x" or "C:\x"; a drive without a separator ("C:x") is
// relative to that drive's working folder.
bool isRooted(const std::string& folder) {
    if (!folder.empty() && isSeparator(folder[0])) {
        return true;
    }
    return folder.size() >= 3 && isDriveLetter(folder[0]) && folder[1] == ':' &&
           isSeparator(folder[2]);
}

std::string asciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

struct Folder {
    std::string name;
    std::string separator;  // as written after it, so the input's style is kept
};

struct SplitPath {
    std::string root;
    std::vector<Folder> folders;
    std::string fileName;
};

SplitPath splitPath(const std::string& path) {
    SplitPath split;
    std::size_t pos = 0;
    const bool drive = path.size() >= 2 && path[1] == ':' && isDriveLetter(path[0]);
    if (drive) {
        pos = 2;
    }
    while (pos < path.size() && isSeparator(path[pos])) {
        ++pos;
    }
    split.root = path.substr(0, pos);
    while (true) {
        std::size_t end = pos;
        while (end < path.size() && !isSeparator(path[end])) {
            ++end;
        }
        if (end == path.size()) {
            split.fileName = path.substr(pos);
            break;
        }
        std::size_t next = end;
        while (next < path.size() && isSeparator(path[next])) {
            ++next;
        }
        split.folders.push_back({path.substr(pos, end - pos), path.substr(end, next - end)});
        pos = next;
    }
    return split;
}

}  // namespace

std::string extensionFor(std::string_view extension, std::int32_t selector,
                         std::optional<std::int32_t> storedFileType) {
    switch (selector) {
        case 0:
            return "csv";
        case 1:
            return "txt";
        case 2:
            return "prn";
        case 3:
            if (!extension.empty()) {
                return std::string(extension);
            }
            if (storedFileType == 1) {
                return "txt";
            }
            if (storedFileType == 2) {
                return "prn";
            }
            return "csv";
        default:
            return std::string(extension);
    }
}

std::string newResultFileName(const std::string& extension,
                              const std::function<std::string()>& desktopFolder,
                              const std::function<bool(const std::string&)>& fileExists) {
    for (std::uint64_t n = 1;; ++n) {
        std::string candidate = desktopFolder();
        if (!isRooted(candidate)) {
            throw std::invalid_argument("result file folder is not an absolute path: " + candidate);
        }
        if (!isSeparator(candidate.back())) {
            // In the folder's own style.
            candidate += candidate[candidate.find_last_of("/\\")];
        }
        candidate += asciiLower("Beats (" + std::to_string(n) + ")." + extension);
        if (!fileExists(candidate)) {
            return candidate;
        }
    }
}

std::string shortenFileName(const std::string& path, int maxWidth,
                            const std::function<int(const std::string&)>& width) {
    if (width(path) <= maxWidth) {
        return path;
    }
    const SplitPath split = splitPath(path);
    if (split.folders.empty()) {
        // Nothing to elide: an ellipsis would only stand for the root.
        return split.fileName;
    }
    std::string tail;  // "<sep><kept folders...><file name>" after the ellipsis
    for (std::size_t dropped = 1; dropped <= split.folders.size(); ++dropped) {
        tail = split.folders[dropped - 1].separator;
        for (std::size_t i = dropped; i < split.folders.size(); ++i) {
            tail += split.folders[i].name + split.folders[i].separator;
        }
        tail += split.fileName;
        std::string candidate = split.root + "..." + tail;
        if (width(candidate) <= maxWidth) {
            return candidate;
        }
    }
    if (!split.root.empty()) {
        std::string candidate = "..." + tail;
        if (width(candidate) <= maxWidth) {
            return candidate;
        }
    }
    return split.fileName;
}

}  // namespace pulsaro
