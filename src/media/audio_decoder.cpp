#include "media/audio_decoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "media/ffmpeg_support.h"
#include "media/file_check.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace pulsaro::media {

using namespace detail;

namespace {

constexpr int kIoBufferBytes = 64 * 1024;
// A file none of whose first packets decode is not going to start decoding.
constexpr int kDamagedPacketsBeforeGivingUp = 1000;
// Demuxer errors in a row after which the rest of the file is taken as lost.
constexpr int kDemuxErrorsInARow = 64;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// FFmpeg reads through the descriptor opened here rather than by name, so it
// reads the very file stat() looked at, and a name such as "pipe:1" or
// "http://..." can never select one of its protocols.
int readFile(void* opaque, std::uint8_t* buffer, int size) {
    const int fd = static_cast<FileDescriptor*>(opaque)->get();
    for (;;) {
        const ssize_t n = ::read(fd, buffer, static_cast<std::size_t>(size));
        if (n > 0) {
            return static_cast<int>(n);
        }
        if (n == 0) {
            return AVERROR_EOF;
        }
        if (errno != EINTR) {
            return AVERROR(errno);
        }
    }
}

std::int64_t seekFile(void* opaque, std::int64_t offset, int whence) {
    const int fd = static_cast<FileDescriptor*>(opaque)->get();
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
}

}  // namespace

struct AudioDecoder::Impl {
    std::filesystem::path file;
    int outputRate = 0;
    // Declared in the order they are made; destroyed in reverse.
    FileDescriptor fd{-1};
    IoPtr io;
    FormatPtr format;
    CodecPtr codec;
    ResamplerPtr resampler;
    PacketPtr packet;
    FramePtr frame;
    FramePtr held;  // the last frame, converted once the next confirms its start
    int streamIndex = -1;
    double duration = 0.0;

    // What the resampler was set up for; a stream may change mid-way.
    int inputFormat = -1;
    int inputRate = 0;
    AVChannelLayout inputLayout{};

    std::vector<float> pending;  // converted samples not yet returned
    std::size_t pendingAt = 0;
    std::int64_t samplesReturned = 0;
    std::int64_t framesDecoded = 0;
    // Where the next frame should start, in the stream's time base, from
    // the previous frame's timestamp and length; AV_NOPTS_VALUE before the first.
    std::int64_t expectedPts = AV_NOPTS_VALUE;
    std::int64_t heldGap = 0;  // how much later the held frame starts than expected
    bool holding = false;
    // The last packet sent, and the mean size of MPEG audio packets so far.
    std::int64_t sentSize = 0;
    std::int64_t sentDuration = 0;
    double meanMpegPacket = 0.0;
    std::int64_t mpegPackets = 0;
    int skipped = 0;
    int demuxErrorsInARow = 0;
    bool isMpegAudio = false;  // MP1, MP2, MP3
    bool demuxEnded = false;
    bool finished = false;

    Impl(const std::filesystem::path& path, int rate, int fdNumber)
        : file(path), outputRate(rate), fd(fdNumber) {}
    ~Impl() { av_channel_layout_uninit(&inputLayout); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    [[noreturn]] void fail(const std::string& reason) const { throw MediaError(file, reason); }

    void open();
    bool refill();
    void feedPacket();
    void damagedPacket();
    void convert(const AVFrame& decoded);
    void setUpResampler(const AVFrame& decoded);
    void drainResampler();
    void take(AVFrame& decoded);
    void releaseHeld(bool startConfirmed);
};

void AudioDecoder::Impl::open() {
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
    if (buffer == nullptr) {
        fail("out of memory");
    }
    io.reset(avio_alloc_context(buffer, kIoBufferBytes, 0, &fd, readFile, nullptr, seekFile));
    if (!io) {
        av_free(buffer);
        fail("out of memory");
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (raw == nullptr) {
        fail("out of memory");
    }
    raw->pb = io.get();
    takeFfmpegLogError();
    // The name only helps FFmpeg guess the format from the extension.
    if (const int r = avformat_open_input(&raw, file.c_str(), nullptr, nullptr); r < 0) {
        // avformat_open_input has freed the context.
        if (io->error < 0 && io->error != AVERROR_EOF) {
            fail("cannot be read: " + ffmpegErrorText(io->error));
        }
        // A file that ends inside its headers is a cut-off audio file or
        // something short that is not audio; which, FFmpeg cannot tell.
        fail((io->eof_reached ? "is cut short or not an audio file FFmpeg can read: "
                              : "is not an audio file FFmpeg can read: ") +
             ffmpegErrorText(r));
    }
    format.reset(raw);
    if (const int r = avformat_find_stream_info(format.get(), nullptr); r < 0) {
        fail("is not an audio file FFmpeg can read: " + ffmpegErrorText(r));
    }
    const AVCodec* decoderCodec = nullptr;
    streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoderCodec, 0);
    if (format->nb_streams == 0) {
        fail(std::string("is not an audio file FFmpeg can read: nothing found in it as ") +
             format->iformat->long_name);
    }
    if (streamIndex < 0 || decoderCodec == nullptr) {
        const AVCodecParameters* audio = nullptr;
        for (unsigned i = 0; i < format->nb_streams && audio == nullptr; ++i) {
            if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                audio = format->streams[i]->codecpar;
            }
        }
        if (audio == nullptr) {
            fail(std::string("has no audio stream (FFmpeg reads it as ") +
                 format->iformat->long_name + ")");
        }
        fail(std::string("has no audio stream FFmpeg can decode (") +
             avcodec_get_name(audio->codec_id) + ", " +
             std::to_string(audio->ch_layout.nb_channels) + " channels at " +
             std::to_string(audio->sample_rate) + " Hz)");
    }
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != streamIndex) {
            format->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    const AVStream* stream = format->streams[streamIndex];

    codec.reset(avcodec_alloc_context3(decoderCodec));
    if (!codec) {
        fail("out of memory");
    }
    if (const int r = avcodec_parameters_to_context(codec.get(), stream->codecpar); r < 0) {
        fail("has audio parameters FFmpeg rejects: " + ffmpegErrorText(r));
    }
    // The decoder needs the stream's time base to apply the skip of the
    // encoder's start delay (side data in samples, timestamps in this base).
    codec->pkt_timebase = stream->time_base;
    codec->thread_count = 1;
    isMpegAudio = stream->codecpar->codec_id == AV_CODEC_ID_MP3 ||
                  stream->codecpar->codec_id == AV_CODEC_ID_MP2 ||
                  stream->codecpar->codec_id == AV_CODEC_ID_MP1;
    if (const int r = avcodec_open2(codec.get(), decoderCodec, nullptr); r < 0) {
        fail(std::string("cannot open the ") + decoderCodec->name +
             " decoder: " + ffmpegErrorText(r));
    }

    if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
        duration = static_cast<double>(format->duration) / AV_TIME_BASE;
    } else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        duration = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    }

    packet.reset(av_packet_alloc());
    frame.reset(av_frame_alloc());
    held.reset(av_frame_alloc());
    if (!packet || !frame || !held) {
        fail("out of memory");
    }
}

// Converts at least one more block into `pending`; false at the end.
bool AudioDecoder::Impl::refill() {
    pending.clear();
    pendingAt = 0;
    while (pending.empty()) {
        if (finished) {
            return false;
        }
        const int r = avcodec_receive_frame(codec.get(), frame.get());
        if (r == 0) {
            if (frame->nb_samples > 0) {
                ++framesDecoded;
                take(*frame);
            }
            av_frame_unref(frame.get());
        } else if (r == AVERROR(EAGAIN)) {
            feedPacket();
        } else if (r == AVERROR_EOF) {
            releaseHeld(false);
            drainResampler();
            finished = true;
            if (framesDecoded == 0) {
                fail(skipped > 0 ? "nothing in it could be decoded (" + std::to_string(skipped) +
                                       " damaged packets)"
                                 : "holds no audio samples");
            }
        } else {
            damagedPacket();
        }
    }
    return true;
}

void AudioDecoder::Impl::feedPacket() {
    if (demuxEnded) {
        return;  // the decoder has had its flush; receive_frame reports EOF
    }
    const int r = av_read_frame(format.get(), packet.get());
    if (r < 0) {
        if (format->pb->error < 0 && format->pb->error != AVERROR_EOF) {
            fail("cannot be read: " + ffmpegErrorText(format->pb->error));
        }
        // A truncated file ends where its data ends; a damaged stretch is
        // resynchronised past by the demuxer, unless errors keep coming.
        if (r == AVERROR_EOF || avio_feof(format->pb) ||
            ++demuxErrorsInARow >= kDemuxErrorsInARow) {
            demuxEnded = true;
            avcodec_send_packet(codec.get(), nullptr);
        }
        return;
    }
    demuxErrorsInARow = 0;
    if (packet->stream_index == streamIndex) {
        sentSize = packet->size;
        sentDuration = packet->duration;
        const int sent = avcodec_send_packet(codec.get(), packet.get());
        if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_EOF) {
            damagedPacket();
        } else if (isMpegAudio) {
            meanMpegPacket += (static_cast<double>(packet->size) - meanMpegPacket) /
                              static_cast<double>(++mpegPackets);
        }
    }
    av_packet_unref(packet.get());
}

void AudioDecoder::Impl::damagedPacket() {
    takeFfmpegLogError();
    ++skipped;
    if (framesDecoded == 0 && skipped >= kDamagedPacketsBeforeGivingUp) {
        fail("nothing in it could be decoded (the first " + std::to_string(skipped) +
             " packets are damaged)");
    }
    // A raw MPEG audio stream has no timestamps: the parser that finds its
    // frames swallows a damaged stretch into one packet of one frame's
    // duration. Its size says how many frames it really held (exactly so in
    // a constant-bitrate file); the rest of them are added to the gap.
    if (mpegPackets >= 8 && expectedPts != AV_NOPTS_VALUE && sentDuration > 0 &&
        static_cast<double>(sentSize) > 1.5 * meanMpegPacket) {
        const auto frames = std::llround(static_cast<double>(sentSize) / meanMpegPacket);
        expectedPts -= (frames - 1) * sentDuration;
    }
    sentSize = 0;
}

// Audio lost to a damaged packet, or to a damaged page the demuxer dropped,
// shows as a frame that starts later than the previous one ended; silence of
// that length keeps every later beat where it was. The gap counts only when
// the frame after it does not step back: an Ogg Vorbis frame at a change of
// block size carries a timestamp that is off by the difference for just that
// frame. A jump back, or forward by more than damage would lose, is a
// discontinuity (a chained Ogg stream, say) and is only followed.
void AudioDecoder::Impl::take(AVFrame& decoded) {
    const AVRational timeBase = format->streams[streamIndex]->time_base;
    const std::int64_t pts = decoded.best_effort_timestamp;
    const std::int64_t gap =
        pts != AV_NOPTS_VALUE && expectedPts != AV_NOPTS_VALUE ? pts - expectedPts : 0;
    if (holding) {
        releaseHeld(gap > -av_rescale_q(2, AVRational{1, 1000}, timeBase));
    }
    const std::int64_t length =
        av_rescale_q(decoded.nb_samples, AVRational{1, decoded.sample_rate}, timeBase);
    if (pts != AV_NOPTS_VALUE) {
        expectedPts = pts + length;
    } else if (expectedPts != AV_NOPTS_VALUE) {
        expectedPts += length;
    }
    av_frame_move_ref(held.get(), &decoded);
    heldGap = gap;
    holding = true;
}

void AudioDecoder::Impl::releaseHeld(bool startConfirmed) {
    if (!holding) {
        return;
    }
    holding = false;
    if (startConfirmed && resampler && held->sample_rate == inputRate) {
        const AVRational timeBase = format->streams[streamIndex]->time_base;
        const std::int64_t gap = av_rescale_q(heldGap, timeBase, AVRational{1, inputRate});
        if (gap >= inputRate / 500 && gap <= std::int64_t{inputRate} * 60) {
            // Into the resampler, so the gap lands after the samples it holds.
            swr_inject_silence(resampler.get(), static_cast<int>(gap));
        }
    }
    convert(*held);
    av_frame_unref(held.get());
}

void AudioDecoder::Impl::setUpResampler(const AVFrame& decoded) {
    if (resampler) {
        drainResampler();
    }
    AVChannelLayout layout{};
    if (decoded.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || decoded.ch_layout.nb_channels == 0) {
        av_channel_layout_default(&layout, std::max(decoded.ch_layout.nb_channels, 1));
    } else if (av_channel_layout_copy(&layout, &decoded.ch_layout) < 0) {
        fail("out of memory");
    }
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;  // 5.1 takes it non-const
    SwrContext* raw = nullptr;
    int r = swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_FLT, outputRate, &layout,
                                static_cast<AVSampleFormat>(decoded.format), decoded.sample_rate, 0,
                                nullptr);
    ResamplerPtr fresh(raw);
    av_channel_layout_uninit(&layout);
    if (r >= 0) {
        // Scales the mix so its weights add up to 1: the mean of the
        // channels, never louder than the loudest.
        r = av_opt_set_double(fresh.get(), "rematrix_maxval", 1.0, 0);
    }
    if (r >= 0) {
        r = swr_init(fresh.get());
    }
    if (r < 0) {
        fail("cannot mix " + std::to_string(decoded.ch_layout.nb_channels) + " channels at " +
             std::to_string(decoded.sample_rate) + " Hz down to mono: " + ffmpegErrorText(r));
    }
    resampler = std::move(fresh);
    inputFormat = decoded.format;
    inputRate = decoded.sample_rate;
    av_channel_layout_uninit(&inputLayout);
    if (av_channel_layout_copy(&inputLayout, &decoded.ch_layout) < 0) {
        fail("out of memory");
    }
}

void AudioDecoder::Impl::convert(const AVFrame& decoded) {
    if (!resampler || decoded.format != inputFormat || decoded.sample_rate != inputRate ||
        av_channel_layout_compare(&decoded.ch_layout, &inputLayout) != 0) {
        setUpResampler(decoded);
    }
    const int room = swr_get_out_samples(resampler.get(), decoded.nb_samples);
    if (room <= 0) {
        return;
    }
    const std::size_t at = pending.size();
    pending.resize(at + static_cast<std::size_t>(room));
    auto* out = reinterpret_cast<std::uint8_t*>(pending.data() + at);
    const int n =
        swr_convert(resampler.get(), &out, room,
                    const_cast<const std::uint8_t**>(decoded.extended_data), decoded.nb_samples);
    if (n < 0) {
        fail("cannot be resampled: " + ffmpegErrorText(n));
    }
    pending.resize(at + static_cast<std::size_t>(n));
}

void AudioDecoder::Impl::drainResampler() {
    if (!resampler) {
        return;
    }
    for (;;) {
        const int room = swr_get_out_samples(resampler.get(), 0);
        if (room <= 0) {
            break;
        }
        const std::size_t at = pending.size();
        pending.resize(at + static_cast<std::size_t>(room));
        auto* out = reinterpret_cast<std::uint8_t*>(pending.data() + at);
        const int n = swr_convert(resampler.get(), &out, room, nullptr, 0);
        pending.resize(at + static_cast<std::size_t>(std::max(n, 0)));
        if (n <= 0) {
            break;
        }
    }
}

AudioDecoder::AudioDecoder(const std::filesystem::path& file, int outputSampleRate) {
    if (outputSampleRate < 1000 || outputSampleRate > 384000) {
        throw std::invalid_argument("output sample rate " + std::to_string(outputSampleRate) +
                                    " Hz is outside 1000..384000 Hz");
    }
    quietFfmpegLog();
    if (const std::string reason = notAFileReason(file); !reason.empty()) {
        throw MediaError(file, reason);
    }
    // O_NONBLOCK: should the name have turned into a FIFO since stat(), the
    // open does not wait for a writer; fstat() below then refuses it.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        throw MediaError(file, std::string("cannot be opened: ") + std::strerror(errno));
    }
    impl_ = std::make_unique<Impl>(file, outputSampleRate, fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        throw MediaError(file, "is not a regular file");
    }
    impl_->open();
}

AudioDecoder::~AudioDecoder() = default;
AudioDecoder::AudioDecoder(AudioDecoder&&) noexcept = default;
AudioDecoder& AudioDecoder::operator=(AudioDecoder&&) noexcept = default;

std::size_t AudioDecoder::read(std::span<float> mono) {
    Impl& d = *impl_;
    std::size_t written = 0;
    while (written < mono.size()) {
        if (d.pendingAt == d.pending.size() && !d.refill()) {
            break;
        }
        const std::size_t n = std::min(mono.size() - written, d.pending.size() - d.pendingAt);
        std::copy_n(d.pending.begin() + static_cast<std::ptrdiff_t>(d.pendingAt), n,
                    mono.begin() + static_cast<std::ptrdiff_t>(written));
        d.pendingAt += n;
        written += n;
    }
    d.samplesReturned += static_cast<std::int64_t>(written);
    return written;
}

const std::filesystem::path& AudioDecoder::file() const {
    return impl_->file;
}

int AudioDecoder::outputSampleRate() const {
    return impl_->outputRate;
}

double AudioDecoder::durationSeconds() const {
    return impl_->duration;
}

double AudioDecoder::secondsDecoded() const {
    return static_cast<double>(impl_->samplesReturned) / impl_->outputRate;
}

int AudioDecoder::skippedPackets() const {
    return impl_->skipped;
}

}  // namespace pulsaro::media
