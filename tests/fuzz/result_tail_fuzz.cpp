// Fuzzes saveRecord's look at the end of an existing result file. The first
// input byte picks the record type (full or quick BPM), the delimiter and
// whether the file exists at all; the rest is the file's old content. After
// saveRecord the file must be the old bytes, then CR LF only when they were
// not empty and did not end with LF, then the record line and CR LF. A file
// that did not exist gets the header line first.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/result_file.h"
#include "fuzz_common.h"

namespace {

namespace fs = std::filesystem;
using pulsaro::Record;
using pulsaro::SaveType;

constexpr char kDelimiters[] = {'\t', ',', ';'};

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
    const std::string d(1, delimiter);
    const std::string line =
        quick ? "128,5" + d + "118 - 139" + d + "466,9"
              : "128,5" + d + "118 - 139" + d + "Artist" + d + "Album" + d + "Track" + d + "466,9";

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
        expected = quick ? "BPM:" + d + "PitchRange +-8%:" + d + "Delay (ms):" + d
                         : "BPM:" + d + "PitchRange +-8%:" + d + "Artist/Group:" + d +
                               "Album:" + d + "Track:" + d + "Delay (ms):" + d;
        expected += "File created by Pulsaro\r\n";
    }
    expected += line;
    expected += "\r\n";
    PULSARO_FUZZ_CHECK(pulsaro::fuzz::readBytes(file) == expected);

    // A second record goes straight after the first: the file now ends in LF.
    pulsaro::saveRecord(named.native(), record, delimiter, ",");
    PULSARO_FUZZ_CHECK(pulsaro::fuzz::readBytes(file) == expected + line + "\r\n");
    return 0;
}
