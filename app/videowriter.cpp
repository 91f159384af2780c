#include "app/videowriter.h"

#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

QString avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

} // namespace

struct VideoWriter::Codec
{
    AVFormatContext *format = nullptr;
    AVCodecContext *encoder = nullptr;
    AVStream *stream = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    SwsContext *scaler = nullptr;
    QString partial;
    std::int64_t next = 0;   // the next frame's number

    ~Codec()
    {
        sws_freeContext(scaler);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&encoder);
        if (format) {
            if (format->pb)
                avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    // Sends a frame (null flushes) and writes the packets that come out.
    bool encode(const AVFrame *input, QString *error)
    {
        int code = avcodec_send_frame(encoder, input);
        if (code < 0) {
            *error = QStringLiteral("cannot encode a frame: %1").arg(avError(code));
            return false;
        }
        for (;;) {
            code = avcodec_receive_packet(encoder, packet);
            if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
                return true;
            if (code < 0) {
                *error = QStringLiteral("cannot encode a frame: %1").arg(avError(code));
                return false;
            }
            av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            code = av_interleaved_write_frame(format, packet);
            if (code < 0) {
                *error = QStringLiteral("cannot write the video: %1").arg(avError(code));
                return false;
            }
        }
    }
};

std::optional<VideoWriter::Format> VideoWriter::formatOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("webm"))
        return Format::WebM;
    if (suffix == QLatin1String("mp4"))
        return Format::Mp4;
    return std::nullopt;
}

VideoWriter::VideoWriter() = default;

VideoWriter::~VideoWriter()
{
    abandon();
}

bool VideoWriter::open(const QString &path, const QSize &size, int framesPerSecond, QString *error)
{
    abandon();
    // The encoders' own chatter (x264's statistics, libvpx's warnings)
    // stays out of the terminal unless asked for: what goes wrong comes
    // back as an error either way.
    static const bool logged = [] {
        av_log_set_level(qEnvironmentVariableIsSet("HARVIX_VIDEO_LOG") ? AV_LOG_INFO : AV_LOG_QUIET);
        return true;
    }();
    Q_UNUSED(logged);
    const std::optional<Format> format = formatOf(path);
    if (!format) {
        *error = QStringLiteral("%1: the name must end in .webm or .mp4").arg(path);
        return false;
    }
    if (size.width() < 16 || size.height() < 16 || size.width() % 2 || size.height() % 2 || framesPerSecond < 1) {
        *error = QStringLiteral("a video needs even sides of 16 pixels or more and a frame rate");
        return false;
    }
    auto codec = std::make_unique<Codec>();
    codec->partial = path + QStringLiteral(".partial");
    const QByteArray file = QFile::encodeName(codec->partial);
    const char *muxer = *format == Format::WebM ? "webm" : "mp4";
    int code = avformat_alloc_output_context2(&codec->format, nullptr, muxer, file.constData());
    const char *encoderName = *format == Format::WebM ? "libvpx-vp9" : "libx264";
    const AVCodec *encoder = avcodec_find_encoder_by_name(encoderName);
    if (code < 0 || !encoder) {
        *error = QStringLiteral("this FFmpeg cannot write %1 (no %2)").arg(QLatin1String(muxer), QLatin1String(encoderName));
        return false;
    }
    codec->stream = avformat_new_stream(codec->format, nullptr);
    codec->encoder = avcodec_alloc_context3(encoder);
    codec->frame = av_frame_alloc();
    codec->packet = av_packet_alloc();
    if (!codec->stream || !codec->encoder || !codec->frame || !codec->packet) {
        *error = QStringLiteral("out of memory");
        return false;
    }
    AVCodecContext *c = codec->encoder;
    c->width = size.width();
    c->height = size.height();
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational { 1, framesPerSecond };
    c->framerate = AVRational { framesPerSecond, 1 };
    c->gop_size = framesPerSecond * 2;
    c->thread_count = 0;   // as many as there are cores
    if (codec->format->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // Quick settings: a map's frames change little from one to the next.
    if (*format == Format::WebM) {
        av_opt_set(c->priv_data, "deadline", "realtime", 0);
        av_opt_set_int(c->priv_data, "cpu-used", 8, 0);
        av_opt_set_int(c->priv_data, "row-mt", 1, 0);
        av_opt_set_int(c->priv_data, "crf", 32, 0);
        c->bit_rate = 0;
    } else {
        av_opt_set(c->priv_data, "preset", "veryfast", 0);
        av_opt_set(c->priv_data, "crf", "23", 0);
    }
    code = avcodec_open2(c, encoder, nullptr);
    if (code < 0) {
        *error = QStringLiteral("cannot start the %1 encoder: %2").arg(QLatin1String(encoderName), avError(code));
        return false;
    }
    avcodec_parameters_from_context(codec->stream->codecpar, c);
    codec->stream->time_base = c->time_base;
    codec->stream->avg_frame_rate = c->framerate;
    codec->frame->format = c->pix_fmt;
    codec->frame->width = c->width;
    codec->frame->height = c->height;
    code = av_frame_get_buffer(codec->frame, 0);
    if (code >= 0)
        code = avio_open(&codec->format->pb, file.constData(), AVIO_FLAG_WRITE);
    if (code < 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(codec->partial, avError(code));
        return false;
    }
    code = avformat_write_header(codec->format, nullptr);
    if (code < 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(codec->partial, avError(code));
        QFile::remove(codec->partial);
        return false;
    }
    codec->scaler = sws_getContext(c->width, c->height, Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? AV_PIX_FMT_BGRA : AV_PIX_FMT_ARGB, c->width, c->height, AV_PIX_FMT_YUV420P,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
    m_codec = std::move(codec);
    m_path = path;
    return true;
}

bool VideoWriter::write(const QImage &image, QString *error)
{
    if (!m_codec) {
        *error = QStringLiteral("no video is open");
        return false;
    }
    AVCodecContext *c = m_codec->encoder;
    // 32-bit pixels, opaque or not premultiplied, are BGRA in memory here.
    QImage frame = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
        ? image : image.convertToFormat(QImage::Format_ARGB32);
    if (frame.size() != QSize(c->width, c->height))
        frame = frame.scaled(c->width, c->height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const int code = av_frame_make_writable(m_codec->frame);
    if (code < 0) {
        *error = QStringLiteral("cannot encode a frame: %1").arg(avError(code));
        return false;
    }
    const uint8_t *planes[] = { frame.constBits() };
    const int strides[] = { int(frame.bytesPerLine()) };
    sws_scale(m_codec->scaler, planes, strides, 0, c->height, m_codec->frame->data, m_codec->frame->linesize);
    m_codec->frame->pts = m_codec->next++;
    return m_codec->encode(m_codec->frame, error);
}

bool VideoWriter::finish(QString *error)
{
    if (!m_codec) {
        *error = QStringLiteral("no video is open");
        return false;
    }
    if (!m_codec->encode(nullptr, error)) {
        abandon();
        return false;
    }
    int code = av_write_trailer(m_codec->format);
    const QString partial = m_codec->partial;
    m_codec.reset();   // closes the file
    if (code < 0) {
        *error = QStringLiteral("cannot finish the video: %1").arg(avError(code));
        QFile::remove(partial);
        return false;
    }
    QFile::remove(m_path);
    if (!QFile::rename(partial, m_path)) {
        *error = QStringLiteral("cannot rename %1 to %2").arg(partial, m_path);
        QFile::remove(partial);
        return false;
    }
    return true;
}

void VideoWriter::abandon()
{
    if (!m_codec)
        return;
    const QString partial = m_codec->partial;
    m_codec.reset();
    QFile::remove(partial);
}
