// JPEG decoding through TurboJPEG; a damaged or cut-off picture comes back as an error, never a crash.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

struct JpegDecodeResult {
    QImage image;   // null unless the whole picture decoded cleanly
    QString error;  // why it did not, empty on success
    bool ok() const { return !image.isNull(); }
};

// Pictures larger than this are refused before any memory is reserved for them: a forged header
// must not be able to ask for gigabytes.
inline constexpr qint64 MaxJpegPixels = 16 * 1024 * 1024;

JpegDecodeResult DecodeJpeg(const QByteArray& data);
