#include "media/tags.h"

#include <taglib/fileref.h>
#include <taglib/tag.h>
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
        Tags tags;
        if (const TagLib::Tag* tag = ref.tag(); tag != nullptr) {
            tags.artist = utf8(tag->artist());
            tags.album = utf8(tag->album());
            tags.title = utf8(tag->title());
        }
        // The property map names the tempo "BPM" in every tag format TagLib knows.
        const TagLib::PropertyMap properties = ref.file()->properties();
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
