#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

namespace pulsaro::media::detail {

// Owners of FFmpeg's objects, each freed by the function FFmpeg pairs with it.
struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct ResamplerFreer {
    void operator()(SwrContext* c) const { swr_free(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
// A custom I/O context owns its buffer, which FFmpeg may have replaced.
struct IoFreer {
    void operator()(AVIOContext* c) const {
        if (c != nullptr) {
            av_freep(&c->buffer);
        }
        avio_context_free(&c);
    }
};

using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using IoPtr = std::unique_ptr<AVIOContext, IoFreer>;

// Silences FFmpeg's logging for the whole process (once, from any thread).
// Its error lines are kept per thread instead, so a failure's message can
// say what FFmpeg saw (an error code alone is often just "Invalid data").
void quietFfmpegLog();

// FFmpeg's last error line on this thread since the previous call, and clears it.
std::string takeFfmpegLogError();

// FFmpeg's text for an error code, with its last logged error line if any:
// "Invalid data found when processing input (moov atom not found)".
std::string ffmpegErrorText(int code);

}  // namespace pulsaro::media::detail
