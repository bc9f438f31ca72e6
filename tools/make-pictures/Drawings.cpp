// The drawings behind every built-in picture, each on its own QImage of the size the windows expect.
#include "Drawings.h"
#include "Version.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <numbers>

namespace {

// Toolbar buttons are painted on the usual light button face; JPEG has no transparency.
const QColor ButtonFace(240, 240, 240);
const QColor MakerBlue(18, 62, 140);
const QColor LeadRed(200, 24, 24);
const QColor LeadBlack(30, 30, 30);

QImage Canvas(int w, int h, const QColor& fill)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(fill);
    return image;
}

QFont Font(const QString& family, qreal pixels, int weight = QFont::Normal, bool italic = false)
{
    QFont font(family);
    font.setPixelSize(qMax(1, qRound(pixels)));
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setItalic(italic);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

// Draws `text` into `box` with the largest font up to `maxPixels` whose width still fits, so that
// readouts and names never run over their frames.
void FitText(QPainter& p, const QRectF& box, int align, const QString& text, const QString& family, qreal maxPixels,
             int weight = QFont::Normal, bool italic = false)
{
    qreal pixels = maxPixels;
    QFont font = Font(family, pixels, weight, italic);
    while (pixels > 5 && QFontMetricsF(font).horizontalAdvance(text) > box.width()) {
        pixels -= 0.5;
        font = Font(family, pixels, weight, italic);
    }
    p.setFont(font);
    p.drawText(box, align, text);
}

// ---------------------------------------------------------------- maker's mark

// A spark in a blue ring: the maker's emblem on the banner, the logos and the splash.
void DrawEmblem(QPainter& p, const QRectF& r)
{
    p.save();
    QRadialGradient ring(r.center(), r.width() / 2, r.topLeft() + QPointF(r.width() * 0.3, r.height() * 0.3));
    ring.setColorAt(0, QColor(70, 130, 230));
    ring.setColorAt(1, MakerBlue);
    p.setPen(QPen(Qt::white, qMax(1.0, r.width() / 22)));
    p.setBrush(ring);
    p.drawEllipse(r.adjusted(1, 1, -1, -1));

    QPainterPath bolt;
    const qreal x = r.left(), y = r.top(), w = r.width(), h = r.height();
    bolt.moveTo(x + w * 0.60, y + h * 0.10);
    bolt.lineTo(x + w * 0.36, y + h * 0.54);
    bolt.lineTo(x + w * 0.52, y + h * 0.54);
    bolt.lineTo(x + w * 0.40, y + h * 0.92);
    bolt.lineTo(x + w * 0.68, y + h * 0.42);
    bolt.lineTo(x + w * 0.52, y + h * 0.42);
    bolt.closeSubpath();
    p.setPen(QPen(QColor(150, 20, 20), qMax(0.8, w / 40)));
    p.setBrush(QColor(255, 200, 40));
    p.drawPath(bolt);
    p.restore();
}

// ---------------------------------------------------------------- power supply

struct SupplyLook {
    QString volts = QStringLiteral("12.00");
    QString amps = QStringLiteral("1.000");
    bool nameplate = true;
};

// A bench supply seen from the front: two displays, two knobs, output switch and the + / - posts.
// Returns the centres of the plus and minus terminals so that leads can be drawn to them.
std::pair<QPointF, QPointF> DrawSupply(QPainter& p, const QRectF& r, const SupplyLook& look = {})
{
    p.save();
    const qreal w = r.width(), h = r.height();
    const qreal u = w / 100.0; // layout unit

    // Case with a slight top face for depth.
    QPainterPath top;
    top.moveTo(r.left() + 4 * u, r.top());
    top.lineTo(r.right() - 4 * u, r.top());
    top.lineTo(r.right(), r.top() + 6 * u);
    top.lineTo(r.left(), r.top() + 6 * u);
    top.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 155, 162));
    p.drawPath(top);

    const QRectF body(r.left(), r.top() + 6 * u, w, h - 6 * u);
    QLinearGradient bodyFill(body.topLeft(), body.bottomLeft());
    bodyFill.setColorAt(0, QColor(205, 208, 214));
    bodyFill.setColorAt(1, QColor(160, 164, 172));
    p.setPen(QPen(QColor(70, 72, 78), qMax(1.0, u * 0.6)));
    p.setBrush(bodyFill);
    p.drawRoundedRect(body, 2 * u, 2 * u);

    // Front panel.
    const QRectF panel = body.adjusted(4 * u, 4 * u, -4 * u, -4 * u);
    p.setPen(QPen(QColor(40, 42, 48), qMax(1.0, u * 0.4)));
    p.setBrush(QColor(58, 62, 72));
    p.drawRoundedRect(panel, 1.5 * u, 1.5 * u);

    // Display window with the voltage and current readouts.
    const QRectF display(panel.left() + 4 * u, panel.top() + 4 * u, panel.width() * 0.62, panel.height() * 0.36);
    p.setPen(QPen(QColor(20, 20, 20), qMax(1.0, u * 0.5)));
    p.setBrush(QColor(12, 18, 14));
    p.drawRect(display);
    const QRectF vBox(display.left() + 2 * u, display.top() + 1 * u, display.width() / 2 - 3 * u, display.height() - 2 * u);
    const QRectF aBox(display.center().x() + 1 * u, vBox.top(), vBox.width(), vBox.height());
    p.setPen(QColor(255, 70, 50));
    FitText(p, vBox, Qt::AlignCenter, look.volts, QStringLiteral("DejaVu Sans Mono"), vBox.height() * 0.62, QFont::Bold);
    p.setPen(QColor(90, 255, 110));
    FitText(p, aBox, Qt::AlignCenter, look.amps, QStringLiteral("DejaVu Sans Mono"), aBox.height() * 0.62, QFont::Bold);
    p.setFont(Font(QStringLiteral("DejaVu Sans"), qMax(6.0, display.height() * 0.2), QFont::Bold));
    p.setPen(QColor(230, 230, 230));
    const qreal captionTop = display.bottom() + 0.5 * u;
    p.drawText(QRectF(vBox.left(), captionTop, vBox.width(), 5 * u), Qt::AlignCenter, QStringLiteral("V"));
    p.drawText(QRectF(aBox.left(), captionTop, aBox.width(), 5 * u), Qt::AlignCenter, QStringLiteral("A"));

    // Maker's name on the panel, right of the display.
    if (look.nameplate) {
        const QRectF plate(display.right() + 3 * u, display.top(), panel.right() - display.right() - 6 * u, display.height() * 0.45);
        p.setPen(QColor(240, 240, 240));
        FitText(p, plate, Qt::AlignCenter, QStringLiteral("Korvex"), QStringLiteral("DejaVu Serif"), plate.height() * 0.62,
                QFont::Bold, true);
        p.setPen(QColor(190, 200, 215));
        // Too small to read on the wiring pictures; only the splash's large supply carries it.
        if (plate.width() > 60)
            FitText(p, plate.translated(0, plate.height() * 0.85), Qt::AlignCenter, QStringLiteral("DC POWER SUPPLY"),
                QStringLiteral("DejaVu Sans"), plate.height() * 0.34);
    }

    // Two knobs under the display.
    const qreal knobR = panel.height() * 0.15;
    const qreal knobY = panel.bottom() - knobR - 5 * u;
    for (int i = 0; i < 2; ++i) {
        const QPointF c(display.left() + display.width() * (0.2 + 0.48 * i), knobY);
        QRadialGradient knob(c - QPointF(knobR * 0.3, knobR * 0.3), knobR * 1.3);
        knob.setColorAt(0, QColor(120, 124, 132));
        knob.setColorAt(1, QColor(22, 22, 26));
        p.setPen(QPen(QColor(10, 10, 10), qMax(1.0, u * 0.4)));
        p.setBrush(knob);
        p.drawEllipse(c, knobR, knobR);
        const qreal a = (i == 0 ? -50.0 : 35.0) * std::numbers::pi / 180.0;
        p.setPen(QPen(QColor(245, 245, 245), qMax(1.0, knobR * 0.14), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(c, c + QPointF(std::sin(a) * knobR * 0.8, -std::cos(a) * knobR * 0.8));
        p.setFont(Font(QStringLiteral("DejaVu Sans"), qMax(5.0, knobR * 0.45)));
        p.setPen(QColor(210, 215, 225));
        p.drawText(QRectF(c.x() - knobR * 2, c.y() + knobR + 0.2 * u, knobR * 4, knobR * 0.7), Qt::AlignCenter,
                   i == 0 ? QStringLiteral("VOLTAGE") : QStringLiteral("CURRENT"));
    }

    // Output terminals, red plus and black minus binding posts at the lower right.
    const qreal postR = panel.height() * 0.1;
    const qreal postY = knobY;
    const QPointF plus(panel.right() - 7 * u - postR * 3.2, postY);
    const QPointF minus(panel.right() - 6 * u, postY);
    auto post = [&](const QPointF& c, const QColor& colour, const QString& sign) {
        QRadialGradient g(c - QPointF(postR * 0.3, postR * 0.3), postR * 1.2);
        g.setColorAt(0, colour.lighter(170));
        g.setColorAt(1, colour.darker(140));
        p.setPen(QPen(colour.darker(250), qMax(1.0, u * 0.4)));
        p.setBrush(g);
        p.drawEllipse(c, postR, postR);
        p.setBrush(QColor(200, 170, 60)); // brass stud
        p.setPen(Qt::NoPen);
        p.drawEllipse(c, postR * 0.3, postR * 0.3);
        p.setFont(Font(QStringLiteral("DejaVu Sans"), postR * 1.3, QFont::Bold));
        p.setPen(Qt::white);
        p.drawText(QRectF(c.x() - postR, c.y() - postR * 2.9, postR * 2, postR * 1.6), Qt::AlignCenter, sign);
    };
    post(plus, LeadRed, QStringLiteral("+"));
    post(minus, QColor(40, 40, 40), QStringLiteral("\u2212"));

    // Output switch in the gap between the current knob and the plus post, where there is room.
    const qreal gapLeft = display.left() + display.width() * 0.68 + knobR;
    const qreal gapRight = plus.x() - postR;
    const qreal swWidth = qMin(postR * 1.8, (gapRight - gapLeft) * 0.55);
    if (swWidth > 3 * u) {
        const QRectF sw((gapLeft + gapRight - swWidth) / 2, postY - swWidth * 0.45, swWidth, swWidth * 0.9);
        p.setPen(QPen(QColor(15, 15, 15), qMax(1.0, u * 0.3)));
        p.setBrush(QColor(30, 140, 60));
        p.drawRoundedRect(sw, u, u);
        p.setPen(QColor(210, 215, 225));
        if (swWidth > 12 * u / 2 && w > 200)
            FitText(p, QRectF(sw.left() - swWidth, sw.bottom() + knobR * 0.25, swWidth * 3, knobR * 0.7), Qt::AlignCenter,
                QStringLiteral("OUTPUT"), QStringLiteral("DejaVu Sans"), qMax(5.0, knobR * 0.45));
    }

    p.restore();
    return {plus, minus};
}

// ---------------------------------------------------------------- multimeter

enum class MeterRange { MilliVolts, Volts, MilliAmps, Amps };

struct MeterSockets {
    QPointF amps, milliAmps, com, voltOhm;
};

// A hand-held multimeter: display, rotary switch set to `range`, and the four sockets.
MeterSockets DrawMultimeter(QPainter& p, const QRectF& r, MeterRange range)
{
    p.save();
    const qreal w = r.width(), h = r.height();
    const qreal u = w / 100.0;

    // Rubber holster and the grey body inside it.
    p.setPen(QPen(QColor(120, 90, 0), qMax(1.0, u * 0.8)));
    p.setBrush(QColor(250, 196, 20));
    p.drawRoundedRect(r, 10 * u, 10 * u);
    const QRectF body = r.adjusted(6 * u, 6 * u, -6 * u, -6 * u);
    p.setPen(QPen(QColor(40, 40, 40), qMax(1.0, u * 0.5)));
    p.setBrush(QColor(70, 74, 80));
    p.drawRoundedRect(body, 6 * u, 6 * u);

    // Display.
    const QRectF lcd(body.left() + 7 * u, body.top() + 6 * u, body.width() - 14 * u, h * 0.2);
    p.setPen(QPen(QColor(25, 25, 25), qMax(1.0, u * 0.8)));
    p.setBrush(QColor(178, 196, 160));
    p.drawRoundedRect(lcd, 2 * u, 2 * u);
    QString reading, unit;
    switch (range) {
    case MeterRange::MilliVolts: reading = QStringLiteral("100.2"); unit = QStringLiteral("mV"); break;
    case MeterRange::Volts: reading = QStringLiteral("3.999"); unit = QStringLiteral("V"); break;
    case MeterRange::MilliAmps: reading = QStringLiteral("100.1"); unit = QStringLiteral("mA"); break;
    case MeterRange::Amps: reading = QStringLiteral("5.100"); unit = QStringLiteral("A"); break;
    }
    const QRectF digits(lcd.left() + 2 * u, lcd.top(), lcd.width() * 0.68, lcd.height());
    const QRectF unitBox(digits.right(), lcd.top(), lcd.right() - digits.right() - 2 * u, lcd.height());
    p.setPen(QColor(20, 24, 20));
    FitText(p, digits, Qt::AlignVCenter | Qt::AlignRight, reading, QStringLiteral("DejaVu Sans Mono"), lcd.height() * 0.62,
            QFont::Bold);
    FitText(p, unitBox, Qt::AlignCenter, unit, QStringLiteral("DejaVu Sans"), lcd.height() * 0.42, QFont::Bold);

    // Rotary switch with its range marks; the pointer sits on the chosen range.
    const QPointF c(body.center().x(), lcd.bottom() + h * 0.24);
    const qreal knobR = w * 0.2;
    struct Mark {
        QString text;
        qreal degrees; // 0 = up, clockwise
        MeterRange range;
        bool selectable;
    };
    const Mark marks[] = {
        {QStringLiteral("OFF"), 0, MeterRange::Volts, false},
        {QStringLiteral("V"), 45, MeterRange::Volts, true},
        {QStringLiteral("mV"), 90, MeterRange::MilliVolts, true},
        {QStringLiteral("\u03a9"), 135, MeterRange::Volts, false},
        {QStringLiteral("A"), 225, MeterRange::Amps, true},
        {QStringLiteral("mA"), 270, MeterRange::MilliAmps, true},
        {QStringLiteral("V~"), 315, MeterRange::Volts, false},
    };
    qreal pointer = 45;
    p.setFont(Font(QStringLiteral("DejaVu Sans"), qMax(6.0, w * 0.085), QFont::Bold));
    for (const Mark& m : marks) {
        const qreal a = m.degrees * std::numbers::pi / 180.0;
        const QPointF at = c + QPointF(std::sin(a), -std::cos(a)) * (knobR * 1.55);
        const bool chosen = m.selectable && m.range == range;
        if (chosen) pointer = m.degrees;
        p.setPen(chosen ? QColor(255, 215, 60) : QColor(225, 225, 225));
        p.drawText(QRectF(at.x() - knobR, at.y() - knobR * 0.4, knobR * 2, knobR * 0.8), Qt::AlignCenter, m.text);
    }
    QRadialGradient knob(c - QPointF(knobR * 0.3, knobR * 0.3), knobR * 1.4);
    knob.setColorAt(0, QColor(110, 110, 116));
    knob.setColorAt(1, QColor(20, 20, 24));
    p.setPen(QPen(QColor(10, 10, 10), qMax(1.0, u * 0.6)));
    p.setBrush(knob);
    p.drawEllipse(c, knobR, knobR);
    const qreal a = pointer * std::numbers::pi / 180.0;
    p.setPen(QPen(QColor(250, 250, 250), qMax(1.5, knobR * 0.16), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(std::sin(a), -std::cos(a)) * (knobR * 0.2), c + QPointF(std::sin(a), -std::cos(a)) * (knobR * 0.92));

    // Sockets: A, mA, COM, V/Ohm from left to right.
    const qreal sockY = body.bottom() - 11 * u;
    const qreal sockR = w * 0.055;
    const QString names[] = {QStringLiteral("A"), QStringLiteral("mA"), QStringLiteral("COM"), QStringLiteral("V\u03a9")};
    QPointF at[4];
    p.setFont(Font(QStringLiteral("DejaVu Sans"), qMax(5.5, w * 0.07), QFont::Bold));
    for (int i = 0; i < 4; ++i) {
        at[i] = QPointF(body.left() + body.width() * (0.14 + 0.24 * i), sockY);
        const QColor ring = i == 2 ? QColor(20, 20, 20) : QColor(190, 30, 30);
        p.setPen(QPen(ring, qMax(1.5, sockR * 0.45)));
        p.setBrush(QColor(12, 12, 12));
        p.drawEllipse(at[i], sockR, sockR);
        p.setPen(QColor(235, 235, 235));
        p.drawText(QRectF(at[i].x() - sockR * 3, sockY - sockR * 3.4, sockR * 6, sockR * 1.9), Qt::AlignCenter, names[i]);
    }
    p.restore();
    return {at[0], at[1], at[2], at[3]};
}

// A test lead: a plug in the socket, a curved cable, and a probe tip on the terminal.
void DrawLead(QPainter& p, const QPointF& from, const QPointF& to, const QColor& colour, qreal width, qreal sag)
{
    p.save();
    QPainterPath cable;
    cable.moveTo(from);
    cable.cubicTo(from + QPointF(0, sag), to + QPointF(0, sag), to);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour.darker(220), width + 2, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cable);
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cable);
    p.setPen(QPen(colour.lighter(160), qMax(0.8, width * 0.25), Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cable.translated(-width * 0.2, -width * 0.2));
    // Plug and probe.
    p.setPen(QPen(colour.darker(250), 1));
    p.setBrush(colour);
    p.drawEllipse(from, width * 1.1, width * 1.1);
    p.setBrush(QColor(220, 220, 220));
    p.drawEllipse(to, width * 0.7, width * 0.7);
    p.restore();
}

QImage Wiring(MeterRange range)
{
    QImage image = Canvas(290, 193, QColor(236, 240, 246));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // Bench top.
    QLinearGradient bench(0, 150, 0, 193);
    bench.setColorAt(0, QColor(200, 184, 160));
    bench.setColorAt(1, QColor(170, 150, 122));
    p.fillRect(QRectF(0, 150, 290, 43), bench);

    SupplyLook look;
    look.nameplate = true;
    switch (range) {
    case MeterRange::MilliVolts: look.volts = QStringLiteral("0.100"); look.amps = QStringLiteral("0.000"); break;
    case MeterRange::Volts: look.volts = QStringLiteral("4.000"); look.amps = QStringLiteral("0.000"); break;
    case MeterRange::MilliAmps: look.volts = QStringLiteral("0.010"); look.amps = QStringLiteral("0.100"); break;
    case MeterRange::Amps: look.volts = QStringLiteral("0.150"); look.amps = QStringLiteral("5.100"); break;
    }
    const auto [plus, minus] = DrawSupply(p, QRectF(6, 46, 164, 110), look);
    const MeterSockets s = DrawMultimeter(p, QRectF(192, 6, 92, 172), range);

    QPointF red = s.voltOhm;
    if (range == MeterRange::MilliAmps) red = s.milliAmps;
    if (range == MeterRange::Amps) red = s.amps;
    DrawLead(p, s.com, minus, LeadBlack, 3.2, 34);
    DrawLead(p, red, plus, LeadRed, 3.2, 46);
    return image;
}

// ---------------------------------------------------------------- icons

QImage Icon(const std::function<void(QPainter&)>& paint)
{
    QImage image = Canvas(24, 24, ButtonFace);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    return image;
}

void Gear(QPainter& p)
{
    QPainterPath gear;
    const QPointF c(12, 12);
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const qreal a0 = (i - 0.5) * std::numbers::pi / teeth;
        const qreal a1 = (i + 0.5) * std::numbers::pi / teeth;
        const qreal r = i % 2 == 0 ? 10.5 : 7.8;
        const QPointF p0 = c + QPointF(std::cos(a0), std::sin(a0)) * r;
        const QPointF p1 = c + QPointF(std::cos(a1), std::sin(a1)) * r;
        if (i == 0) gear.moveTo(p0); else gear.lineTo(p0);
        gear.lineTo(p1);
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(c, 3.4, 3.4);
    QLinearGradient fill(0, 0, 24, 24);
    fill.setColorAt(0, QColor(150, 160, 175));
    fill.setColorAt(1, QColor(70, 80, 96));
    p.setPen(QPen(QColor(40, 46, 56), 1));
    p.setBrush(fill);
    p.drawPath(gear.subtracted(hole));
}

void Gauge(QPainter& p)
{
    p.setPen(QPen(QColor(30, 60, 120), 1.4));
    p.setBrush(QColor(255, 255, 250));
    p.drawEllipse(QRectF(1.5, 1.5, 21, 21));
    p.setPen(QPen(QColor(40, 40, 40), 1));
    for (int i = 0; i <= 6; ++i) {
        const qreal a = (-120 + i * 40) * std::numbers::pi / 180.0;
        const QPointF d(std::sin(a), -std::cos(a));
        p.drawLine(QPointF(12, 13) + d * 7.5, QPointF(12, 13) + d * 9.5);
    }
    const qreal a = 35 * std::numbers::pi / 180.0;
    p.setPen(QPen(QColor(210, 30, 30), 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(12, 13), QPointF(12, 13) + QPointF(std::sin(a), -std::cos(a)) * 8.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 30));
    p.drawEllipse(QPointF(12, 13), 1.8, 1.8);
    p.setPen(QPen(QColor(20, 140, 40), 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(7, 18), QPointF(9, 20));
    p.drawLine(QPointF(9, 20), QPointF(13, 16));
}

void ResetArrow(QPainter& p)
{
    p.setPen(QPen(QColor(20, 110, 50), 2.8, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(4, 4, 16, 16), 100 * 16, 290 * 16);
    QPainterPath head;
    head.moveTo(7.5, 0.8);
    head.lineTo(14.5, 4.4);
    head.lineTo(8.0, 9.5);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 110, 50));
    p.drawPath(head);
}

void StopSign(QPainter& p)
{
    QPolygonF octagon;
    for (int i = 0; i < 8; ++i) {
        const qreal a = (22.5 + 45 * i) * std::numbers::pi / 180.0;
        octagon << QPointF(12, 12) + QPointF(std::cos(a), std::sin(a)) * 11;
    }
    p.setPen(QPen(QColor(120, 0, 0), 1));
    p.setBrush(QColor(210, 30, 30));
    p.drawPolygon(octagon);
    p.setPen(QPen(Qt::white, 2.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 8), QPointF(16, 16));
    p.drawLine(QPointF(16, 8), QPointF(8, 16));
}

void RoundLetter(QPainter& p, const QString& letter, const QColor& colour)
{
    QRadialGradient g(QPointF(9, 8), 14);
    g.setColorAt(0, colour.lighter(150));
    g.setColorAt(1, colour);
    p.setPen(QPen(colour.darker(160), 1));
    p.setBrush(g);
    p.drawEllipse(QRectF(1.5, 1.5, 21, 21));
    p.setPen(Qt::white);
    p.setFont(Font(QStringLiteral("DejaVu Serif"), 17, QFont::Bold));
    p.drawText(QRectF(0, 0, 24, 24), Qt::AlignCenter, letter);
}

void ExitDoor(QPainter& p)
{
    p.setPen(QPen(QColor(90, 60, 30), 1));
    p.setBrush(QColor(150, 100, 50));
    p.drawRect(QRectF(3.5, 2.5, 11, 19));
    p.setBrush(QColor(255, 210, 80));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(12, 12.5), 1.1, 1.1);
    p.setPen(QPen(QColor(30, 90, 190), 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(12.5, 12), QPointF(21, 12));
    QPainterPath head;
    head.moveTo(23, 12);
    head.lineTo(18, 7.5);
    head.lineTo(18, 16.5);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 90, 190));
    p.drawPath(head);
}

// ---------------------------------------------------------------- banner, logos, splash

QImage Banner()
{
    QImage image = Canvas(300, 41, MakerBlue);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    // Horizontal stripes in two blues, fading lighter to the right.
    for (int y = 0; y < 41; y += 4) {
        QLinearGradient stripe(0, 0, 300, 0);
        stripe.setColorAt(0, QColor(16, 52, 128));
        stripe.setColorAt(1, QColor(60, 120, 210));
        p.fillRect(QRectF(0, y, 300, 2), stripe);
        QLinearGradient gap(0, 0, 300, 0);
        gap.setColorAt(0, QColor(28, 72, 156));
        gap.setColorAt(1, QColor(92, 150, 230));
        p.fillRect(QRectF(0, y + 2, 300, 2), gap);
    }
    // The toolbar shows the banner's right end when the window is narrow, so the name sits there.
    DrawEmblem(p, QRectF(186, 4, 33, 33));
    const QRectF name(224, 0, 72, 41);
    p.setPen(QColor(0, 20, 60));
    FitText(p, name.translated(2, 2), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Korvex"),
            QStringLiteral("DejaVu Serif"), 27, QFont::Black, true);
    p.setPen(Qt::white);
    FitText(p, name, Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Korvex"), QStringLiteral("DejaVu Serif"), 27,
            QFont::Black, true);
    p.setPen(QPen(QColor(255, 200, 40), 2));
    p.drawLine(QPointF(8, 33), QPointF(178, 33));
    return image;
}

QImage Logo()
{
    QImage image = Canvas(120, 60, QColor(166, 202, 240)); // the display panel's sky blue
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient card(0, 0, 0, 60);
    card.setColorAt(0, QColor(255, 255, 255));
    card.setColorAt(1, QColor(214, 228, 246));
    p.setPen(QPen(MakerBlue, 1.5));
    p.setBrush(card);
    p.drawRoundedRect(QRectF(1.5, 1.5, 117, 57), 8, 8);
    DrawEmblem(p, QRectF(6, 9, 34, 34));
    p.setPen(MakerBlue);
    FitText(p, QRectF(42, 6, 72, 32), Qt::AlignCenter, QStringLiteral("Korvex"), QStringLiteral("DejaVu Serif"), 22,
            QFont::Black, true);
    p.setFont(Font(QStringLiteral("DejaVu Sans"), 10, QFont::Bold));
    p.setPen(QColor(140, 20, 20));
    p.drawText(QRectF(40, 36, 78, 14), Qt::AlignCenter, QStringLiteral("7200 SERIES"));
    return image;
}

QImage AboutLogo()
{
    QImage image = Canvas(76, 73, QColor(240, 240, 240));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    DrawEmblem(p, QRectF(8, 2, 60, 56));
    p.setPen(MakerBlue);
    FitText(p, QRectF(2, 57, 72, 16), Qt::AlignCenter, QStringLiteral("Korvex"), QStringLiteral("DejaVu Serif"), 13,
            QFont::Black, true);
    return image;
}

QImage Splash()
{
    QImage image = Canvas(680, 476, MakerBlue);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient sky(0, 0, 0, 476);
    sky.setColorAt(0, QColor(10, 34, 88));
    sky.setColorAt(0.62, QColor(40, 92, 180));
    sky.setColorAt(1, QColor(14, 40, 100));
    p.fillRect(image.rect(), sky);
    // Faint grid like a scope screen behind the supply.
    p.setPen(QPen(QColor(255, 255, 255, 18), 1));
    for (int x = 0; x < 680; x += 34) p.drawLine(x, 0, x, 476);
    for (int y = 0; y < 476; y += 34) p.drawLine(0, y, 680, y);

    // Title.
    p.setFont(Font(QStringLiteral("DejaVu Serif"), 44, QFont::Bold, true));
    p.setPen(QColor(0, 0, 0, 140));
    p.drawText(QRectF(3, 23, 680, 70), Qt::AlignCenter, QStringLiteral("Korvex Power Calibrator"));
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 20, 680, 70), Qt::AlignCenter, QStringLiteral("Korvex Power Calibrator"));
    p.setPen(QPen(QColor(255, 200, 40), 3));
    p.drawLine(QPointF(120, 96), QPointF(560, 96));

    // The supply on a shadow.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 70));
    p.drawEllipse(QRectF(150, 360, 390, 36));
    SupplyLook look;
    look.volts = QStringLiteral("12.00");
    look.amps = QStringLiteral("1.000");
    DrawSupply(p, QRectF(160, 124, 360, 252), look);

    // Version and maker.
    p.setFont(Font(QStringLiteral("DejaVu Sans"), 17, QFont::Bold));
    p.setPen(QColor(230, 236, 250));
    p.drawText(QRectF(24, 420, 300, 36), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Version " KORVEX_VERSION_TEXT));
    DrawEmblem(p, QRectF(488, 414, 42, 42));
    p.setPen(Qt::white);
    FitText(p, QRectF(536, 410, 134, 50), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Korvex"),
            QStringLiteral("DejaVu Serif"), 34, QFont::Black, true);
    return image;
}

} // namespace

std::vector<Drawing> AllDrawings()
{
    return {
        {QStringLiteral("wiring_mv"), [] { return Wiring(MeterRange::MilliVolts); }, 92},
        {QStringLiteral("wiring_v"), [] { return Wiring(MeterRange::Volts); }, 92},
        {QStringLiteral("wiring_ma"), [] { return Wiring(MeterRange::MilliAmps); }, 92},
        {QStringLiteral("wiring_a"), [] { return Wiring(MeterRange::Amps); }, 92},
        {QStringLiteral("logo"), Logo, 94},
        {QStringLiteral("banner"), Banner, 94},
        {QStringLiteral("splash"), Splash, 90},
        {QStringLiteral("about_logo"), AboutLogo, 94},
        {QStringLiteral("icon_setting"), [] { return Icon(Gear); }, 97},
        {QStringLiteral("icon_calibrate"), [] { return Icon(Gauge); }, 97},
        {QStringLiteral("icon_reset"), [] { return Icon(ResetArrow); }, 97},
        {QStringLiteral("icon_abort"), [] { return Icon(StopSign); }, 97},
        {QStringLiteral("icon_help"), [] { return Icon([](QPainter& p) { RoundLetter(p, QStringLiteral("?"), QColor(30, 90, 190)); }); }, 97},
        {QStringLiteral("icon_about"), [] { return Icon([](QPainter& p) { RoundLetter(p, QStringLiteral("i"), QColor(20, 130, 150)); }); }, 97},
        {QStringLiteral("icon_exit"), [] { return Icon(ExitDoor); }, 97},
    };
}
