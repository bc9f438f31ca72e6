// Writes the application's icon for Linux desktops: the scalable SVG and 48 and 128 pixel PNGs,
// drawn from one description so that they always agree. Run by hand; the files are committed.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

// On a 128-unit square: a blue rounded tile, a white lightning bolt, an orange bar below.
constexpr double Size = 128;
constexpr double Corner = 24;
const QColor Tile(0x1F, 0x4E, 0x9E);
const QColor Bolt(0xFF, 0xFF, 0xFF);
const QColor Bar(0xF2, 0x9A, 0x1F);
const QPointF BoltPoints[] = {{72, 14}, {34, 70}, {60, 70}, {50, 114}, {94, 52}, {66, 52}, {78, 14}};
const QRectF BarRect(24, 100, 80, 10);

QString SvgPoints()
{
    QStringList points;
    for (const QPointF& p : BoltPoints) points << QStringLiteral("%1,%2").arg(p.x()).arg(p.y());
    return points.join(QLatin1Char(' '));
}

QByteArray Svg()
{
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" viewBox=\"0 0 %1 %1\">\n"
               "  <rect x=\"0\" y=\"0\" width=\"%1\" height=\"%1\" rx=\"%2\" ry=\"%2\" fill=\"%3\"/>\n"
               "  <rect x=\"%4\" y=\"%5\" width=\"%6\" height=\"%7\" fill=\"%8\"/>\n"
               "  <polygon points=\"%9\" fill=\"%10\"/>\n"
               "</svg>\n")
        .arg(Size)
        .arg(Corner)
        .arg(Tile.name())
        .arg(BarRect.x())
        .arg(BarRect.y())
        .arg(BarRect.width())
        .arg(BarRect.height())
        .arg(Bar.name())
        .arg(SvgPoints())
        .arg(Bolt.name())
        .toUtf8();
}

QImage Png(int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(pixels / Size, pixels / Size);
    p.setPen(Qt::NoPen);
    p.setBrush(Tile);
    p.drawRoundedRect(QRectF(0, 0, Size, Size), Corner, Corner);
    p.setBrush(Bar);
    p.drawRect(BarRect);
    p.setBrush(Bolt);
    p.drawPolygon(BoltPoints, static_cast<int>(std::size(BoltPoints)));
    return image;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "usage: app-icon <output folder>\n");
        return 2;
    }
    const QDir out(app.arguments().at(1));
    QFile svg(out.filePath(QStringLiteral("korvex-calibrator.svg")));
    if (!svg.open(QIODevice::WriteOnly) || svg.write(Svg()) < 0) return 1;
    for (int pixels : {48, 128})
        if (!Png(pixels).save(out.filePath(QStringLiteral("korvex-calibrator-%1.png").arg(pixels)))) return 1;
    return 0;
}
