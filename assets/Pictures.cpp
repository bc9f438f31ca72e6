// The program's built-in pictures (toolbar icons, banner, logos, splash, wiring pictures).
#include "Pictures.h"

#include "JpegDecoder.h"

#include <QFile>

QImage PictureImage(const QString& name)
{
    QFile file(QStringLiteral(":/pictures/%1.jpg").arg(name));
    if (!file.open(QIODevice::ReadOnly)) return QImage();
    return DecodeJpeg(file.readAll()).image;
}

QStringList PictureNames()
{
    return {QStringLiteral("wiring_mv"),    QStringLiteral("wiring_v"),       QStringLiteral("wiring_ma"),
            QStringLiteral("wiring_a"),     QStringLiteral("logo"),           QStringLiteral("banner"),
            QStringLiteral("splash"),       QStringLiteral("about_logo"),     QStringLiteral("icon_setting"),
            QStringLiteral("icon_calibrate"), QStringLiteral("icon_reset"),   QStringLiteral("icon_abort"),
            QStringLiteral("icon_help"),    QStringLiteral("icon_about"),     QStringLiteral("icon_exit")};
}
