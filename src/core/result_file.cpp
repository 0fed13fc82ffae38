#include "core/result_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "core/number_format.h"

namespace pulsaro {
namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kFolderSeparator = "/";
constexpr std::string_view kCreatedBy = "File created by Pulsaro";
constexpr char kDelimiters[] = {'\t', ',', ';'};
// Far more than any header line; a longer first line is no header of ours.
constexpr std::size_t kHeaderReadLimit = 4096;

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool isQuick(SaveType type) {
    return type == SaveType::BpmQuick || type == SaveType::MpmQuick;
}

std::vector<std::string_view> headerLabels(SaveType type) {
    switch (type) {
        case SaveType::BpmFull:
            return {"BPM:", "PitchRange +-8%:", "Artist/Group:", "Album:", "Track:", "Delay (ms):"};
        case SaveType::BpmQuick:
            return {"BPM:", "PitchRange +-8%:", "Delay (ms):"};
        case SaveType::MpmFull:
            return {"BPM:",     "Artist/Group:", "Album:",   "Track:",  "MPM 2/3:",
                    "MPM 1/2:", "MPM 1/3:",      "MPM 1/4:", "MPM 1/8:"};
        case SaveType::MpmQuick:
            return {"BPM:", "MPM 2/3:", "MPM 1/2:", "MPM 1/3:", "MPM 1/4:", "MPM 1/8:"};
    }
    throw std::invalid_argument("unknown save type " +
                                std::to_string(static_cast<std::int32_t>(type)));
}

std::string headerLine(SaveType type, char delimiter) {
    std::string line;
    for (const std::string_view label : headerLabels(type)) {
        line += label;
        line += delimiter;
    }
    line += kCreatedBy;
    return line;
}

// 2/3, 1/2, 1/3, 1/4 and 1/8 of the BPM as written, so the MPM values agree
// with the BPM shown beside them rather than with the unrounded tempo. One
// division of the fixed-point value each keeps the result to a single rounding.
std::vector<std::string> mpmFields(const std::string& bpm, std::string_view decimalSeparator) {
    const long double fixed = static_cast<long double>(parseFixed(bpm, decimalSeparator));
    std::vector<std::string> fields;
    for (const long double divisor : {15000.0L, 20000.0L, 30000.0L, 40000.0L, 80000.0L}) {
        fields.push_back(formatPattern(divide(fixed, divisor), "0", decimalSeparator));
    }
    return fields;
}

// A tag may hold a line break or a TAB, which would split the record.
std::string blanked(std::string_view name) {
    std::string text(name);
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 32 || c == 127) {
            c = ' ';
        }
    }
    return text;
}

// As spreadsheets read CSV: a field holding the delimiter or a quote goes in
// quotes, with its own quotes doubled.
std::string quoted(std::string_view field, char delimiter) {
    if (field.find(delimiter) == std::string_view::npos &&
        field.find('"') == std::string_view::npos) {
        return std::string(field);
    }
    std::string text = "\"";
    for (const char c : field) {
        if (c == '"') {
            text += '"';
        }
        text += c;
    }
    return text += '"';
}

// Everything that can throw is done here, before the file is opened; the
// delimiter is known only once the file's header has been read.
std::vector<std::string> recordFields(const Record& record, std::string_view decimalSeparator) {
    std::vector<std::string> fields{record.bpm};
    const bool full = !isQuick(record.type);
    if (record.type == SaveType::BpmFull || record.type == SaveType::BpmQuick) {
        fields.push_back(record.pitch);
    }
    if (full) {
        for (const std::string* name : {&record.artist, &record.album, &record.track}) {
            fields.push_back(blanked(*name));
        }
    }
    if (record.type == SaveType::BpmFull || record.type == SaveType::BpmQuick) {
        fields.push_back(record.delay);
    } else {
        for (std::string& field : mpmFields(record.bpm, decimalSeparator)) {
            fields.push_back(std::move(field));
        }
    }
    return fields;
}

std::string recordLine(std::vector<std::string> fields, char delimiter) {
    // Only the ends of the whole line: a blank field inside stays. The end
    // fields are trimmed before quoting so that quotes do not keep their blanks.
    fields.front() = std::string(trimmed(fields.front()));
    fields.back() = std::string(trimmed(fields.back()));
    std::string line = quoted(fields.front(), delimiter);
    for (std::size_t i = 1; i < fields.size(); ++i) {
        line += delimiter;
        line += quoted(fields[i], delimiter);
    }
    // With a TAB delimiter, empty fields at the ends go as well.
    return std::string(trimmed(line));
}

[[noreturn]] void fail(std::string_view what, const std::string& file, std::string_view reason) {
    std::string message(what);
    message += " \"";
    // A NUL in the name is shown, not left to end the message.
    for (const char c : file) {
        message += c == '\0' ? std::string("\\0") : std::string(1, c);
    }
    message += "\": ";
    message += reason;
    throw ResultFileError(message);
}

[[noreturn]] void fail(std::string_view what, const std::string& file, int error) {
    fail(what, file, std::strerror(error));
}

std::string folderOf(const std::string& file) {
    const std::size_t split = file.find_last_of(kFolderSeparator);
    if (split == std::string::npos) {
        return ".";
    }
    return split == 0 ? "/" : file.substr(0, split);
}

// A symbolic link is followed only where nobody else could have planted it:
// it belongs to the user or to root, and its folder is not writable by
// others (the rule of the kernel's protected_symlinks). True when file is
// such a link; false when it is no link at all.
bool trustedLink(const std::string& file) {
    struct stat link {};
    if (::lstat(file.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
        return false;
    }
    struct stat folder {};
    const bool folderSafe =
        ::stat(folderOf(file).c_str(), &folder) == 0 && (folder.st_mode & S_IWOTH) == 0;
    if ((link.st_uid != ::geteuid() && link.st_uid != 0) || !folderSafe) {
        fail("cannot open the result file", file,
             "it is a symbolic link that another account could have made");
    }
    return true;
}

bool hasWriteBit(mode_t mode) {
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

struct OpenFile {
    int fd = -1;
    bool created = false;
    struct stat info {};
};

// Opens an existing file for appending, or creates it; O_EXCL tells the two
// apart, so only a file this call made gets the header. Read access is asked
// for only to look at the last byte, and done without when refused.
OpenFile openForAppend(const std::string& file) {
    // Tries again when the file comes or goes between the two opens.
    for (int attempt = 0; attempt < 3; ++attempt) {
        OpenFile opened;
        // O_NONBLOCK: a FIFO without a reader fails instead of hanging (and
        // one with a reader is refused below, before anything is written).
        // O_NOFOLLOW: a link that appears after the check is not followed.
        const int kFlags =
            O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (trustedLink(file) ? 0 : O_NOFOLLOW);
        opened.fd = ::open(file.c_str(), O_RDWR | kFlags);
        if (opened.fd < 0 && errno == EACCES) {
            opened.fd = ::open(file.c_str(), O_WRONLY | kFlags);
        }
        if (opened.fd < 0 && errno == ENOENT) {
            // Root may create files anywhere; a folder without write bits is
            // meant to stay as it is all the same.
            struct stat folder {};
            if (::stat(folderOf(file).c_str(), &folder) == 0 && !hasWriteBit(folder.st_mode)) {
                fail("cannot create the result file", file, EACCES);
            }
            opened.fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | kFlags, 0666);
            opened.created = opened.fd >= 0;
            if (opened.fd < 0 && errno == EEXIST) {
                continue;
            }
        }
        if (opened.fd < 0) {
            if (errno == ELOOP) {
                fail("cannot open the result file", file,
                     "it is a symbolic link that another account could have made");
            }
            fail("cannot open the result file", file, errno);
        }
        const int flags = ::fcntl(opened.fd, F_GETFL);
        if (::fstat(opened.fd, &opened.info) != 0 || flags < 0 ||
            ::fcntl(opened.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
            const int error = errno;
            ::close(opened.fd);
            if (opened.created) {
                ::unlink(file.c_str());
            }
            fail("cannot open the result file", file, error);
        }
        // A pipe or a device would take the record and keep nothing.
        if (!S_ISREG(opened.info.st_mode)) {
            ::close(opened.fd);
            fail("cannot open the result file", file, "it is not a regular file");
        }
        // Root may write anywhere; a file without write bits is meant to stay
        // as it is all the same.
        if (!opened.created && !hasWriteBit(opened.info.st_mode)) {
            ::close(opened.fd);
            fail("cannot open the result file", file, EACCES);
        }
        return opened;
    }
    fail("cannot open the result file", file, EEXIST);
}

// A last line without its break would have the record joined onto it.
bool endsWithoutLineBreak(const OpenFile& opened) {
    if (opened.created || !S_ISREG(opened.info.st_mode) || opened.info.st_size == 0) {
        return false;
    }
    char last = 0;
    return ::pread(opened.fd, &last, 1, opened.info.st_size - 1) == 1 && last != '\n';
}

// The delimiter of the file's first line when that is one of our header
// lines, so that records keep to the file's columns after the setting changed.
std::optional<char> headerDelimiter(const OpenFile& opened) {
    if (opened.created || opened.info.st_size == 0) {
        return std::nullopt;
    }
    std::array<char, kHeaderReadLimit> bytes{};
    const ssize_t read = ::pread(opened.fd, bytes.data(), bytes.size(), 0);
    if (read <= 0) {
        return std::nullopt;  // also when the file could be opened for writing only
    }
    std::string_view line(bytes.data(), static_cast<std::size_t>(read));
    line = line.substr(0, line.find('\n'));
    // A line ending in a bare CR gains CR LF from the next record: still the
    // header line.
    while (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    for (const SaveType type :
         {SaveType::BpmFull, SaveType::BpmQuick, SaveType::MpmFull, SaveType::MpmQuick}) {
        for (const char delimiter : kDelimiters) {
            if (line == headerLine(type, delimiter)) {
                return delimiter;
            }
        }
    }
    return std::nullopt;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool flushToDisk(int fd) {
    // Devices and pipes that cannot sync have nothing to lose by it.
    return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
}

}  // namespace

char delimiterFor(std::optional<std::int32_t> stored) {
    if (stored == 1) {
        return ',';
    }
    if (stored == 2) {
        return ';';
    }
    return '\t';
}

std::string bpmText(Fixed tempo, std::string_view decimalSeparator) {
    return formatPattern(toLongDouble(tempo), ".#", decimalSeparator);
}

std::string delayText(Fixed tempo, std::string_view decimalSeparator) {
    // 60000 ms * 10000 over the fixed-point tempo: one rounding only.
    return formatPattern(divide(600'000'000.0L, static_cast<long double>(tempo)), ".#",
                         decimalSeparator);
}

std::string pitchFieldText(std::string_view labelCaption) {
    const std::size_t colon = labelCaption.find(':');
    if (colon != std::string_view::npos) {
        labelCaption.remove_prefix(colon + 1);
    }
    return std::string(trimmed(labelCaption));
}

std::string quickSaveFileName(std::string_view resultFileName) {
    if (trimmed(resultFileName).empty()) {
        return {};
    }
    const std::size_t split = resultFileName.find_last_of(kFolderSeparator);
    const std::size_t nameStart = split == std::string_view::npos ? 0 : split + 1;
    std::string name(trimmed(resultFileName.substr(0, nameStart)));
    if (!name.empty() && name.back() != '/') {
        name += '/';
    }
    name += "Q_";
    name += trimmed(resultFileName.substr(nameStart));
    return name;
}

std::string saveRecord(const std::string& resultFileName, const Record& record, char delimiter,
                       std::string_view decimalSeparator) {
    if (trimmed(resultFileName).empty()) {
        throw NoResultFileError("no result file is chosen");
    }
    // A name cut at a NUL would be another file.
    if (resultFileName.find('\0') != std::string::npos) {
        fail("cannot open the result file", resultFileName, "the name holds a NUL character");
    }
    const std::string file =
        isQuick(record.type) ? quickSaveFileName(resultFileName) : resultFileName;
    // Everything that can fail without touching the file is done first.
    std::vector<std::string> fields = recordFields(record, decimalSeparator);
    const std::string header = headerLine(record.type, delimiter);

    const OpenFile opened = openForAppend(file);
    const std::string line =
        recordLine(std::move(fields), headerDelimiter(opened).value_or(delimiter));
    std::string buffer;
    if (opened.created) {
        buffer.append(header).append(kLineBreak);
    } else if (endsWithoutLineBreak(opened)) {
        buffer.append(kLineBreak);
    }
    buffer.append(line).append(kLineBreak);

    if (!writeAll(opened.fd, buffer) || !flushToDisk(opened.fd)) {
        const int error = errno;
        // Never leave half a record behind: a full disk may take only some of it.
        if (opened.created) {
            ::unlink(file.c_str());
        } else if (S_ISREG(opened.info.st_mode) &&
                   ::ftruncate(opened.fd, opened.info.st_size) != 0) {
            // Nothing more to try; the write's own error is the one reported.
        }
        ::close(opened.fd);
        fail("cannot write to the result file", file, error);
    }
    if (::close(opened.fd) != 0) {
        fail("cannot close the result file", file, errno);
    }
    return file;
}

}  // namespace pulsaro
