// JPEG encoding through TurboJPEG, used to draw the program's pictures and to build test pictures.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Returns the JPEG bytes of `image` (any format; it is converted to RGB first), or an empty array
// with `error` set.
QByteArray EncodeJpeg(const QImage& image, int quality = 92, QString* error = nullptr);
