#include "media/tags.h"

#include <taglib/fileref.h>
#include <taglib/tdebuglistener.h>
#include <taglib/tfile.h>
#include <taglib/tpropertymap.h>

#include <charconv>
#include <cmath>
#include <mutex>

#include "media/file_check.h"

namespace pulsaro::media {

namespace {

// TagLib reports damaged tags on stderr in builds that have debug output.
class SilentListener : public TagLib::DebugListener {
public:
    void printMessage(const TagLib::String&) override {}
};

void quietTagLib() {
    static SilentListener listener;
    static std::once_flag once;
    std::call_once(once, [] { TagLib::setDebugListener(&listener); });
}

std::string utf8(const TagLib::String& s) {
    return s.to8Bit(true);
}

// A tag may hold a name more than once (two ARTIST comments); all are shown.
std::string joined(const TagLib::PropertyMap& properties, const char* name) {
    const auto found = properties.find(name);
    return found == properties.end() ? std::string() : utf8(found->second.toString(", "));
}

}  // namespace

std::optional<double> parseBpmTag(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    // from_chars never looks at the locale; a decimal comma is made a point.
    std::string number(text.substr(0, 32));
    for (char& c : number) {
        if (c == ',') {
            c = '.';
        }
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value,
                                              std::chars_format::fixed);
    if (error != std::errc() || end == number.data() || !std::isfinite(value) || value < 1.0 ||
        value > 999.0) {
        return std::nullopt;
    }
    return value;
}

Tags readTags(const std::filesystem::path& file) noexcept {
    try {
        quietTagLib();
        if (!notAFileReason(file).empty()) {
            return {};
        }
        const TagLib::FileRef ref(file.c_str(), false);
        if (ref.isNull()) {
            return {};
        }
        // The property map merges every tag the file has under one set of
        // names (FileRef::tag() shows a WAV's ID3v2 tag only, not its INFO
        // list) and calls the tempo "BPM" in each format TagLib knows.
        const TagLib::PropertyMap properties = ref.file()->properties();
        Tags tags;
        tags.artist = joined(properties, "ARTIST");
        tags.album = joined(properties, "ALBUM");
        tags.title = joined(properties, "TITLE");
        if (const auto bpm = properties.find("BPM");
            bpm != properties.end() && !bpm->second.isEmpty()) {
            tags.bpm = parseBpmTag(utf8(bpm->second.front()));
        }
        return tags;
    } catch (...) {
        return {};
    }
}

}  // namespace pulsaro::media
