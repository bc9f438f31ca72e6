// JPEG decoding through TurboJPEG; a damaged or cut-off picture comes back as an error, never a crash.
#include "JpegDecoder.h"

#include <turbojpeg.h>

#include <climits>
#include <memory>

namespace {

struct TjHandleDeleter {
    void operator()(void* handle) const
    {
        if (handle) tjDestroy(handle);
    }
};
using TjHandle = std::unique_ptr<void, TjHandleDeleter>;

JpegDecodeResult Failure(const QString& text)
{
    return JpegDecodeResult{QImage(), text};
}

} // namespace

JpegDecodeResult DecodeJpeg(const QByteArray& data)
{
    if (data.isEmpty()) return Failure(QStringLiteral("empty picture data"));
    if (static_cast<unsigned long long>(data.size()) > ULONG_MAX)
        return Failure(QStringLiteral("picture data too large"));

    TjHandle handle(tjInitDecompress());
    if (!handle) return Failure(QStringLiteral("cannot start the JPEG decoder"));

    const auto* src = reinterpret_cast<const unsigned char*>(data.constData());
    const auto srcSize = static_cast<unsigned long>(data.size());

    int width = 0;
    int height = 0;
    int subsamp = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(handle.get(), src, srcSize, &width, &height, &subsamp, &colorspace) != 0)
        return Failure(QStringLiteral("bad JPEG header: %1").arg(QString::fromUtf8(tjGetErrorStr2(handle.get()))));
    if (width <= 0 || height <= 0 || static_cast<qint64>(width) * height > MaxJpegPixels)
        return Failure(QStringLiteral("unsupported picture size %1 x %2").arg(width).arg(height));

    QImage image(width, height, QImage::Format_RGB888);
    if (image.isNull()) return Failure(QStringLiteral("out of memory for %1 x %2").arg(width).arg(height));

    // A truncated file only raises a warning inside libjpeg, which would leave the missing rows
    // grey and report success; stopping on the warning turns it into a refusal.
    const int flags = TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;
    if (tjDecompress2(handle.get(), src, srcSize, image.bits(), width, static_cast<int>(image.bytesPerLine()),
                      height, TJPF_RGB, flags) != 0) {
        const bool warning = tjGetErrorCode(handle.get()) == TJERR_WARNING;
        return Failure(QStringLiteral("%1 while decoding JPEG: %2")
                           .arg(warning ? QStringLiteral("damage") : QStringLiteral("error"),
                                QString::fromUtf8(tjGetErrorStr2(handle.get()))));
    }
    return JpegDecodeResult{std::move(image), QString()};
}
