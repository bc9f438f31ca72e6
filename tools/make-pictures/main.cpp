// Draws every built-in picture and writes it as <name>.jpg into the folder given on the command line.
#include "Drawings.h"
#include "JpegEncoder.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: make-pictures <output folder>\n");
        return 2;
    }
    const QDir out(args.at(1));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(out.path()));
        return 1;
    }
    for (const Drawing& drawing : AllDrawings()) {
        QString error;
        const QByteArray jpeg = EncodeJpeg(drawing.draw(), drawing.quality, &error);
        const QString path = out.filePath(drawing.name + QStringLiteral(".jpg"));
        QFile file(path);
        if (jpeg.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size() || !file.flush()) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(error.isEmpty() ? file.errorString() : error));
            return 1;
        }
        std::printf("%s %d bytes\n", qPrintable(path), int(jpeg.size()));
    }
    return 0;
}
