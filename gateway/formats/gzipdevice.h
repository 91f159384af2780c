#pragma once

// A read-only view of gzip-compressed data as the data itself, inflated as
// it is read with zlib. Sequential: peek() and readLine() work, seek() does
// not. A damaged or cut stream is a read error, with the reason in
// errorString() and failed() true once the reader has come to it.

#include <QIODevice>

#include <memory>

class GzipDevice : public QIODevice
{
public:
    // The source is read from where it stands and must stay open.
    explicit GzipDevice(QIODevice &source);
    ~GzipDevice() override;

    // Whether data starts with gzip's magic bytes.
    static bool isGzip(const QByteArray &start);

    bool isSequential() const override { return true; }
    bool atEnd() const override;
    qint64 bytesAvailable() const override;
    bool failed() const { return !m_error.isEmpty(); }
    QString error() const { return m_error; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    // Inflates until some output is pending or the stream has ended.
    void fill();

    struct Stream;
    QIODevice &m_source;
    std::unique_ptr<Stream> m_stream;
    QByteArray m_input;
    QByteArray m_pending;
    qsizetype m_pendingPos = 0;
    bool m_done = false;
    QString m_error;
};
