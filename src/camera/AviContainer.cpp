#include "camera/AviContainer.h"

#include "image/Bitmap.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace
{

/// One codec the film writer knows: its name in the codec list, the encoders that may serve
/// it (first that opens wins), the container and the pixel layout it is fed.
struct CodecChoice {
    const char *label;
    const char *encoders[3];
    AVCodecID id;
    const char *format;
    const char *extension;
    AVPixelFormat pixelFormat;
};

const CodecChoice knownCodecs[] = {
    {"RAW format", {"rawvideo", nullptr, nullptr}, AV_CODEC_ID_RAWVIDEO, "avi", "avi", AV_PIX_FMT_BGR24},
    {"Motion JPEG (AVI)", {"mjpeg", nullptr, nullptr}, AV_CODEC_ID_MJPEG, "avi", "avi", AV_PIX_FMT_YUVJ420P},
    {"H.264 (MP4)", {"libx264", "libopenh264", nullptr}, AV_CODEC_ID_H264, "mp4", "mp4", AV_PIX_FMT_YUV420P},
};

std::string ffmpegError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return text;
}

bool halfResolutionChroma(AVPixelFormat f)
{
    return f == AV_PIX_FMT_YUV420P || f == AV_PIX_FMT_YUVJ420P;
}

/// Sets up an encoder context for `choice` at the given size; null when none opens.
AVCodecContext *openEncoder(const CodecChoice &choice, int width, int height, int fps, bool globalHeader,
                            std::string *why)
{
    for (const char *name : choice.encoders) {
        if (!name)
            break;
        const AVCodec *codec = avcodec_find_encoder_by_name(name);
        if (!codec || codec->id != choice.id)
            continue;
        AVCodecContext *ctx = avcodec_alloc_context3(codec);
        if (!ctx)
            continue;
        ctx->width = width;
        ctx->height = height;
        ctx->time_base = AVRational{1, fps};
        ctx->framerate = AVRational{fps, 1};
        ctx->pix_fmt = choice.pixelFormat;
        ctx->gop_size = 12;
        // Two threads at most: the export shares the machine with the program drawing it.
        ctx->thread_count = 2;
        if (choice.id == AV_CODEC_ID_MJPEG) {
            // A fixed, fine quantiser: the default bit rate would smear a flight's details.
            ctx->flags |= AV_CODEC_FLAG_QSCALE;
            ctx->global_quality = FF_QP2LAMBDA * 2;
        } else if (choice.id == AV_CODEC_ID_H264) {
            av_opt_set(ctx->priv_data, "crf", "18", 0);
            av_opt_set(ctx->priv_data, "preset", "medium", 0);
        }
        if (globalHeader)
            ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        const int status = avcodec_open2(ctx, codec, nullptr);
        if (status >= 0)
            return ctx;
        if (why)
            *why = std::string(name) + ": " + ffmpegError(status);
        avcodec_free_context(&ctx);
    }
    return nullptr;
}

/// The known codecs an encoder opens for, in list order; probed once per process.
const std::vector<const CodecChoice *> &availableCodecs()
{
    static std::vector<const CodecChoice *> available;
    static std::once_flag probed;
    std::call_once(probed, [] {
        av_log_set_level(AV_LOG_ERROR);
        for (const CodecChoice &c : knownCodecs) {
            AVCodecContext *ctx = openEncoder(c, 64, 64, 20, false, nullptr);
            if (ctx) {
                available.push_back(&c);
                avcodec_free_context(&ctx);
            }
        }
    });
    return available;
}

const CodecChoice &codecAt(int index)
{
    const std::vector<const CodecChoice *> &list = availableCodecs();
    if (index < 0 || index >= static_cast<int>(list.size()))
        return knownCodecs[0];
    return *list[index];
}

} // namespace

struct AviContainer::Encoder {
    const CodecChoice *choice = nullptr;
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    AVStream *stream = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    SwsContext *scaler = nullptr;
    int sourceWidth = 0, sourceHeight = 0;
    bool headerWritten = false;

    ~Encoder()
    {
        sws_freeContext(scaler);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
        if (format) {
            if (format->pb)
                avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    /// Sends `f` (null to flush) and writes every packet the encoder gives back.
    int encode(AVFrame *f)
    {
        int status = avcodec_send_frame(codec, f);
        if (status < 0)
            return status;
        for (;;) {
            status = avcodec_receive_packet(codec, packet);
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
                return 0;
            if (status < 0)
                return status;
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            status = av_interleaved_write_frame(format, packet);
            av_packet_unref(packet);
            if (status < 0)
                return status;
        }
    }
};

std::vector<std::string> AviContainer::getCodecList()
{
    std::vector<std::string> names;
    for (const CodecChoice *c : availableCodecs())
        names.push_back(c->label);
    // The raw writer needs nothing beyond the libraries themselves; list it even if the probe
    // failed, so that the list is never empty (its exports then report the failure).
    if (names.empty())
        names.push_back(knownCodecs[0].label);
    return names;
}

std::string AviContainer::fileNameFor(const char *name, int codec)
{
    std::string file = name ? name : "";
    const size_t slash = file.find_last_of('/');
    const size_t dot = file.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1) && dot + 1 < file.size();
    if (!hasExtension && !file.empty() && file.back() != '/') {
        if (file.back() != '.')
            file += '.';
        file += codecAt(codec).extension;
    }
    return file;
}

AviContainer::AviContainer(const char *name, int framesPerSecond, int codecIndex)
    : fileName(fileNameFor(name, codecIndex)), fps(framesPerSecond < 1 ? 1 : framesPerSecond),
      codec(codecIndex), framesWritten(0), closed(false)
{
    if (fileName.empty() || fileName.back() == '/')
        fail("no film file name");
    else
        temporaryName = fileName + ".part";
}

AviContainer::~AviContainer()
{
    encoder.reset();
    if (!closed && !temporaryName.empty())
        std::remove(temporaryName.c_str());
}

bool AviContainer::fail(const std::string &message)
{
    if (error.empty())
        error = message;
    encoder.reset();
    if (!temporaryName.empty())
        std::remove(temporaryName.c_str());
    return false;
}

bool AviContainer::open(int width, int height)
{
    const CodecChoice &choice = codecAt(codec);
    encoder.reset(new Encoder);
    Encoder &e = *encoder;
    e.choice = &choice;
    e.sourceWidth = width;
    e.sourceHeight = height;
    int w = width, h = height;
    if (halfResolutionChroma(choice.pixelFormat)) {
        w &= ~1;
        h &= ~1;
    }
    if (w < 2 || h < 2)
        return fail("frames of " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels are too small for " + choice.label);

    int status = avformat_alloc_output_context2(&e.format, nullptr, choice.format, temporaryName.c_str());
    if (status < 0 || !e.format)
        return fail(std::string("cannot make a ") + choice.format + " file: " + ffmpegError(status));
    std::string why = "no encoder";
    e.codec = openEncoder(choice, w, h, fps, (e.format->oformat->flags & AVFMT_GLOBALHEADER) != 0, &why);
    if (!e.codec)
        return fail(std::string("cannot open the ") + choice.label + " encoder (" + why + ")");
    e.stream = avformat_new_stream(e.format, nullptr);
    if (!e.stream)
        return fail("cannot add a video stream");
    e.stream->time_base = e.codec->time_base;
    e.stream->avg_frame_rate = e.codec->framerate;
    status = avcodec_parameters_from_context(e.stream->codecpar, e.codec);
    if (status < 0)
        return fail("cannot set the stream up: " + ffmpegError(status));

    e.frame = av_frame_alloc();
    e.packet = av_packet_alloc();
    if (!e.frame || !e.packet)
        return fail("out of memory");
    e.frame->format = choice.pixelFormat;
    e.frame->width = w;
    e.frame->height = h;
    if (av_frame_get_buffer(e.frame, 0) < 0)
        return fail("out of memory");
    e.scaler = sws_getContext(w, h, AV_PIX_FMT_BGR24, w, h, choice.pixelFormat, SWS_POINT, nullptr, nullptr,
                              nullptr);
    if (!e.scaler)
        return fail("cannot convert frames to the codec's pixel format");

    status = avio_open(&e.format->pb, temporaryName.c_str(), AVIO_FLAG_WRITE);
    if (status < 0)
        return fail("cannot create " + temporaryName + ": " + ffmpegError(status));
    status = avformat_write_header(e.format, nullptr);
    if (status < 0)
        return fail("cannot write the film header: " + ffmpegError(status));
    e.headerWritten = true;
    return true;
}

bool AviContainer::addFrame(const Bitmap &image)
{
    if (!error.empty() || closed)
        return false;
    if (image.width <= 0 || image.height <= 0 || !image.pixels)
        return fail("empty frame");
    if (!encoder && !open(image.width, image.height))
        return false;
    Encoder &e = *encoder;
    if (image.width != e.sourceWidth || image.height != e.sourceHeight)
        return fail("frame " + std::to_string(framesWritten + 1) + " is " + std::to_string(image.width) +
                    " x " + std::to_string(image.height) + " pixels, the film " +
                    std::to_string(e.sourceWidth) + " x " + std::to_string(e.sourceHeight));
    if (av_frame_make_writable(e.frame) < 0)
        return fail("out of memory");
    const uint8_t *source[1] = {reinterpret_cast<const uint8_t *>(image.pixels)};
    const int sourceStride[1] = {3 * image.width};
    sws_scale(e.scaler, source, sourceStride, 0, e.frame->height, e.frame->data, e.frame->linesize);
    e.frame->pts = framesWritten;
    if (e.codec->flags & AV_CODEC_FLAG_QSCALE)
        e.frame->quality = e.codec->global_quality;
    const int status = e.encode(e.frame);
    if (status < 0)
        return fail("cannot write frame " + std::to_string(framesWritten + 1) + ": " + ffmpegError(status));
    ++framesWritten;
    return true;
}

bool AviContainer::close()
{
    if (closed)
        return true;
    if (!error.empty())
        return false;
    if (!encoder)
        return fail("no frame to write");
    Encoder &e = *encoder;
    int status = e.encode(nullptr);
    if (status < 0)
        return fail("cannot write the last frames: " + ffmpegError(status));
    status = av_write_trailer(e.format);
    if (status < 0)
        return fail("cannot complete the film: " + ffmpegError(status));
    // Write errors of the buffered output show up here at the latest.
    avio_flush(e.format->pb);
    status = e.format->pb->error;
    if (status >= 0)
        status = avio_closep(&e.format->pb);
    if (status < 0)
        return fail("cannot write " + fileName + ": " + ffmpegError(status));
    encoder.reset();
    if (std::rename(temporaryName.c_str(), fileName.c_str()) != 0)
        return fail("cannot rename the film to " + fileName + ": " + std::strerror(errno));
    closed = true;
    return true;
}
