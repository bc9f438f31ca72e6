// JPEG encoding through TurboJPEG, used to draw the program's pictures and to build test pictures.
#include "JpegEncoder.h"

#include <turbojpeg.h>

#include <memory>

namespace {

struct TjHandleDeleter {
    void operator()(void* handle) const
    {
        if (handle) tjDestroy(handle);
    }
};

QByteArray Fail(QString* error, const QString& text)
{
    if (error) *error = text;
    return QByteArray();
}

} // namespace

QByteArray EncodeJpeg(const QImage& image, int quality, QString* error)
{
    if (image.isNull()) return Fail(error, QStringLiteral("no picture to encode"));
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);

    std::unique_ptr<void, TjHandleDeleter> handle(tjInitCompress());
    if (!handle) return Fail(error, QStringLiteral("cannot start the JPEG encoder"));

    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    // 4:4:4 keeps the thin coloured lines of the small icons from bleeding.
    const int rc = tjCompress2(handle.get(), rgb.constBits(), rgb.width(), static_cast<int>(rgb.bytesPerLine()),
                               rgb.height(), TJPF_RGB, &out, &outSize, TJSAMP_444, quality, TJFLAG_ACCURATEDCT);
    if (rc != 0) {
        const QString text = QString::fromUtf8(tjGetErrorStr2(handle.get()));
        tjFree(out);
        return Fail(error, QStringLiteral("JPEG encoding failed: %1").arg(text));
    }
    QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(outSize));
    tjFree(out);
    return bytes;
}
