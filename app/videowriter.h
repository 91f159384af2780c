#pragma once

// VideoWriter: frames (QImage) into a video file through FFmpeg's own
// libraries: WebM with VP9 (libvpx) or MP4 with H.264 (libx264), chosen by
// the file's suffix, in 4:2:0 at a constant frame rate. The file is
// written beside its name and takes the name only when finished, so that
// an export cancelled or failed leaves no file.

#include <QImage>
#include <QString>

#include <memory>
#include <optional>

class VideoWriter
{
public:
    enum class Format { WebM, Mp4 };
    // By the suffix: .webm or .mp4; none for another.
    static std::optional<Format> formatOf(const QString &path);

    VideoWriter();
    ~VideoWriter();   // abandons a video not finished
    VideoWriter(const VideoWriter &) = delete;
    VideoWriter &operator=(const VideoWriter &) = delete;

    // Even sides; false with the reason.
    bool open(const QString &path, const QSize &size, int framesPerSecond, QString *error);
    // The next frame, scaled to the size if it is not.
    bool write(const QImage &frame, QString *error);
    // Flushes the encoder and gives the file its name.
    bool finish(QString *error);
    // Leaves no file.
    void abandon();

private:
    struct Codec;
    std::unique_ptr<Codec> m_codec;
    QString m_path;
};
