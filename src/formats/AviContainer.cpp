#include "formats/AviContainer.h"

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
#include <string>

#include <dlfcn.h>

namespace
{

// FFmpeg's libraries, with all they bring along (well over a hundred codec, network and
// graphics libraries), are loaded when the first film is written or the codecs are listed,
// not at every start of the program: loading and relocating them costs more than the rest
// of the program's start-up. The versions are the ones the program was compiled against.
#define VELMORA_FFMPEG_FUNCTIONS(X) \
    X(avutil, av_strerror) \
    X(avutil, av_log_set_level) \
    X(avutil, av_opt_set) \
    X(avutil, av_frame_alloc) \
    X(avutil, av_frame_free) \
    X(avutil, av_frame_get_buffer) \
    X(avutil, av_frame_make_writable) \
    X(avcodec, avcodec_find_encoder_by_name) \
    X(avcodec, avcodec_alloc_context3) \
    X(avcodec, avcodec_open2) \
    X(avcodec, avcodec_free_context) \
    X(avcodec, avcodec_send_frame) \
    X(avcodec, avcodec_receive_packet) \
    X(avcodec, avcodec_parameters_from_context) \
    X(avcodec, av_packet_alloc) \
    X(avcodec, av_packet_free) \
    X(avcodec, av_packet_rescale_ts) \
    X(avcodec, av_packet_unref) \
    X(avformat, avformat_alloc_output_context2) \
    X(avformat, avformat_free_context) \
    X(avformat, avformat_new_stream) \
    X(avformat, avformat_write_header) \
    X(avformat, av_interleaved_write_frame) \
    X(avformat, av_write_trailer) \
    X(avformat, avio_open) \
    X(avformat, avio_closep) \
    X(avformat, avio_flush) \
    X(swscale, sws_getContext) \
    X(swscale, sws_scale) \
    X(swscale, sws_freeContext)

#define VELMORA_STRING(x) #x
#define VELMORA_SONAME(name, major) "lib" name ".so." VELMORA_STRING(major)

struct FFmpeg {
#define VELMORA_FFMPEG_POINTER(library, function) decltype(&::function) function = nullptr;
    VELMORA_FFMPEG_FUNCTIONS(VELMORA_FFMPEG_POINTER)
#undef VELMORA_FFMPEG_POINTER
    bool loaded = false;
    std::string error; ///< why the libraries could not be loaded

    FFmpeg()
    {
        // Each library before those that depend on it; the handles stay open for good.
        void *avutil = open(VELMORA_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR));
        void *swscale = avutil ? open(VELMORA_SONAME("swscale", LIBSWSCALE_VERSION_MAJOR)) : nullptr;
        void *avcodec = swscale ? open(VELMORA_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR)) : nullptr;
        void *avformat = avcodec ? open(VELMORA_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR)) : nullptr;
        if (!avformat)
            return;
#define VELMORA_FFMPEG_RESOLVE(library, function)                                                                 \
    function = reinterpret_cast<decltype(function)>(dlsym(library, #function));                                  \
    if (!function) {                                                                                             \
        error = "FFmpeg's " #library " library has no " #function;                                                \
        return;                                                                                                  \
    }
        VELMORA_FFMPEG_FUNCTIONS(VELMORA_FFMPEG_RESOLVE)
#undef VELMORA_FFMPEG_RESOLVE
        loaded = true;
    }

private:
    void *open(const char *name)
    {
        void *handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char *why = dlerror();
            error = std::string("cannot load FFmpeg's libraries: ") + (why ? why : name);
        }
        return handle;
    }
};

/// The libraries, loaded on first use (check `loaded` before calling through them).
FFmpeg &ffmpeg()
{
    static FFmpeg libraries;
    return libraries;
}

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
    ffmpeg().av_strerror(code, text, sizeof text);
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
        const AVCodec *codec = ffmpeg().avcodec_find_encoder_by_name(name);
        if (!codec || codec->id != choice.id)
            continue;
        AVCodecContext *ctx = ffmpeg().avcodec_alloc_context3(codec);
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
            ffmpeg().av_opt_set(ctx->priv_data, "crf", "18", 0);
            ffmpeg().av_opt_set(ctx->priv_data, "preset", "medium", 0);
        }
        if (globalHeader)
            ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        const int status = ffmpeg().avcodec_open2(ctx, codec, nullptr);
        if (status >= 0)
            return ctx;
        if (why)
            *why = std::string(name) + ": " + ffmpegError(status);
        ffmpeg().avcodec_free_context(&ctx);
    }
    return nullptr;
}

/// The known codecs an encoder opens for, in list order; probed once per process.
const std::vector<const CodecChoice *> &availableCodecs()
{
    static std::vector<const CodecChoice *> available;
    static std::once_flag probed;
    std::call_once(probed, [] {
        if (!ffmpeg().loaded)
            return;
        ffmpeg().av_log_set_level(AV_LOG_ERROR);
        for (const CodecChoice &c : knownCodecs) {
            AVCodecContext *ctx = openEncoder(c, 64, 64, 20, false, nullptr);
            if (ctx) {
                available.push_back(&c);
                ffmpeg().avcodec_free_context(&ctx);
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
        ffmpeg().sws_freeContext(scaler);
        ffmpeg().av_packet_free(&packet);
        ffmpeg().av_frame_free(&frame);
        ffmpeg().avcodec_free_context(&codec);
        if (format) {
            if (format->pb)
                ffmpeg().avio_closep(&format->pb);
            ffmpeg().avformat_free_context(format);
        }
    }

    /// Sends `f` (null to flush) and writes every packet the encoder gives back.
    int encode(AVFrame *f)
    {
        int status = ffmpeg().avcodec_send_frame(codec, f);
        if (status < 0)
            return status;
        for (;;) {
            status = ffmpeg().avcodec_receive_packet(codec, packet);
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
                return 0;
            if (status < 0)
                return status;
            ffmpeg().av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            status = ffmpeg().av_interleaved_write_frame(format, packet);
            ffmpeg().av_packet_unref(packet);
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
    if (!ffmpeg().loaded)
        return fail(ffmpeg().error);
    const CodecChoice &choice = codecAt(codec);
    encoder = std::make_unique<Encoder>();
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

    int status = ffmpeg().avformat_alloc_output_context2(&e.format, nullptr, choice.format, temporaryName.c_str());
    if (status < 0 || !e.format)
        return fail(std::string("cannot make a ") + choice.format + " file: " + ffmpegError(status));
    std::string why = "no encoder";
    e.codec = openEncoder(choice, w, h, fps, (e.format->oformat->flags & AVFMT_GLOBALHEADER) != 0, &why);
    if (!e.codec)
        return fail(std::string("cannot open the ") + choice.label + " encoder (" + why + ")");
    e.stream = ffmpeg().avformat_new_stream(e.format, nullptr);
    if (!e.stream)
        return fail("cannot add a video stream");
    e.stream->time_base = e.codec->time_base;
    e.stream->avg_frame_rate = e.codec->framerate;
    status = ffmpeg().avcodec_parameters_from_context(e.stream->codecpar, e.codec);
    if (status < 0)
        return fail("cannot set the stream up: " + ffmpegError(status));

    e.frame = ffmpeg().av_frame_alloc();
    e.packet = ffmpeg().av_packet_alloc();
    if (!e.frame || !e.packet)
        return fail("out of memory");
    e.frame->format = choice.pixelFormat;
    e.frame->width = w;
    e.frame->height = h;
    if (ffmpeg().av_frame_get_buffer(e.frame, 0) < 0)
        return fail("out of memory");
    e.scaler = ffmpeg().sws_getContext(w, h, AV_PIX_FMT_BGR24, w, h, choice.pixelFormat, SWS_POINT, nullptr, nullptr,
                              nullptr);
    if (!e.scaler)
        return fail("cannot convert frames to the codec's pixel format");

    status = ffmpeg().avio_open(&e.format->pb, temporaryName.c_str(), AVIO_FLAG_WRITE);
    if (status < 0)
        return fail("cannot create " + temporaryName + ": " + ffmpegError(status));
    status = ffmpeg().avformat_write_header(e.format, nullptr);
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
    if (ffmpeg().av_frame_make_writable(e.frame) < 0)
        return fail("out of memory");
    const uint8_t *source[1] = {reinterpret_cast<const uint8_t *>(image.pixels)};
    const int sourceStride[1] = {3 * image.width};
    ffmpeg().sws_scale(e.scaler, source, sourceStride, 0, e.frame->height, e.frame->data, e.frame->linesize);
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
    status = ffmpeg().av_write_trailer(e.format);
    if (status < 0)
        return fail("cannot complete the film: " + ffmpegError(status));
    // Write errors of the buffered output show up here at the latest.
    ffmpeg().avio_flush(e.format->pb);
    status = e.format->pb->error;
    if (status >= 0)
        status = ffmpeg().avio_closep(&e.format->pb);
    if (status < 0)
        return fail("cannot write " + fileName + ": " + ffmpegError(status));
    encoder.reset();
    if (std::rename(temporaryName.c_str(), fileName.c_str()) != 0)
        return fail("cannot rename the film to " + fileName + ": " + std::strerror(errno));
    closed = true;
    return true;
}
