// Fuzzes saveRecord's look at the end of an existing result file. The first
// input byte picks the record type (full or quick BPM), the delimiter and
// whether the file exists at all; the rest is the file's old content. After
// saveRecord the file must be the old bytes, then CR LF only when they were
// not empty and did not end with LF, then the record line and CR LF. A file
// that did not exist gets the header line first; one whose first line is a
// header line gets its records with that header's delimiter.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/result_file.h"
#include "fuzz_common.h"

namespace {

namespace fs = std::filesystem;
using pulsaro::Record;
using pulsaro::SaveType;

constexpr char kDelimiters[] = {'\t', ',', ';'};
constexpr const char* kHeaders[] = {
    "BPM:|PitchRange +-8%:|Artist/Group:|Album:|Track:|Delay (ms):|File created by Pulsaro",
    "BPM:|PitchRange +-8%:|Delay (ms):|File created by Pulsaro",
    ("BPM:|Artist/Group:|Album:|Track:|MPM 2/3:|MPM 1/2:|MPM 1/3:|MPM 1/4:|MPM 1/8:|"
     "File created by Pulsaro"),
    "BPM:|MPM 2/3:|MPM 1/2:|MPM 1/3:|MPM 1/4:|MPM 1/8:|File created by Pulsaro"};

std::string delimited(std::string_view text, char delimiter) {
    std::string out(text);
    std::replace(out.begin(), out.end(), '|', delimiter);
    return out;
}

// The decimal commas are quoted under the ',' delimiter.
std::string recordLine(bool quick, char delimiter) {
    const std::string quote = delimiter == ',' ? "\"" : "";
    const std::string bpm = quote + "128,5" + quote;
    const std::string delay = quote + "466,9" + quote;
    return delimited(
        quick ? bpm + "|118 - 139|" + delay : bpm + "|118 - 139|Artist|Album|Track|" + delay,
        delimiter);
}

// The delimiter of the header line the old content starts with, if any.
std::optional<char> headerDelimiter(std::string_view old) {
    std::string_view first = old.substr(0, old.find('\n'));
    while (!first.empty() && first.back() == '\r') {
        first.remove_suffix(1);
    }
    for (const char* header : kHeaders) {
        for (const char delimiter : kDelimiters) {
            if (first == delimited(header, delimiter)) {
                return delimiter;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t options = data[0];
    const std::string_view old(reinterpret_cast<const char*>(data + 1), size - 1);
    const bool quick = (options & 1) != 0;
    const char delimiter = kDelimiters[(options >> 1) % 3];
    // Rarely: no file yet, to cover the header path as well.
    const bool exists = (options & 0xF8) != 0xF8;

    Record record;
    record.type = quick ? SaveType::BpmQuick : SaveType::BpmFull;
    record.bpm = "128,5";
    record.pitch = "118 - 139";
    record.delay = "466,9";
    record.artist = "Artist";
    record.album = "Album";
    record.track = "Track";
    const std::string line =
        recordLine(quick, exists ? headerDelimiter(old).value_or(delimiter) : delimiter);

    const fs::path folder = pulsaro::fuzz::freshFolder("results");
    const fs::path named = folder / "beats.csv";
    const fs::path file = quick ? folder / "Q_beats.csv" : named;
    if (exists) {
        pulsaro::fuzz::writeBytes(file, old);
    }

    const std::string written = pulsaro::saveRecord(named.native(), record, delimiter, ",");
    PULSARO_FUZZ_CHECK(written == file.native());

    std::string expected;
    if (exists) {
        expected = old;
        if (!old.empty() && old.back() != '\n') {
            expected += "\r\n";
        }
    } else {
        expected = delimited(kHeaders[quick ? 1 : 0], delimiter) + "\r\n";
    }
    expected += line;
    expected += "\r\n";
    PULSARO_FUZZ_CHECK(pulsaro::fuzz::readBytes(file) == expected);

    // A second record goes straight after the first: the file now ends in LF.
    pulsaro::saveRecord(named.native(), record, delimiter, ",");
    PULSARO_FUZZ_CHECK(pulsaro::fuzz::readBytes(file) == expected + line + "\r\n");
    return 0;
}
