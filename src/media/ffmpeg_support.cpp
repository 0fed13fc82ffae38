#include "media/ffmpeg_support.h"

#include <cstdarg>
#include <mutex>
#include <utility>

extern "C" {
#include <libavutil/log.h>
}

namespace pulsaro::media::detail {

namespace {

thread_local std::string lastLogError;

void keepErrorLine(void* avcl, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) {
        return;
    }
    char line[512];
    int printPrefix = 0;
    av_log_format_line2(avcl, level, format, args, line, sizeof line, &printPrefix);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    // The "[mov,mp4 @ 0x...] " prefix names an address, of no use to a reader.
    if (const auto end = text.find("] "); text.starts_with('[') && end != std::string::npos) {
        text.erase(0, end + 2);
    }
    if (!text.empty()) {
        lastLogError = std::move(text);
    }
}

}  // namespace

void quietFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_ERROR);
        av_log_set_callback(keepErrorLine);
    });
}

std::string takeFfmpegLogError() {
    return std::exchange(lastLogError, {});
}

std::string ffmpegErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    std::string result(text);
    if (const std::string logged = takeFfmpegLogError(); !logged.empty() && logged != result) {
        result += " (" + logged + ")";
    }
    return result;
}

}  // namespace pulsaro::media::detail
