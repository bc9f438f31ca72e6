// The splash window TForm1: the start-up picture, closed by its own timer or by a click.
#include "Unit1.h"

#include "Pictures.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>

void ClickableImage::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
    QLabel::mouseReleaseEvent(event);
}

TForm1::TForm1(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setFixedSize(677, 478);
    setModal(true);
    // The picture is a few pixels shorter than the window; the strip below it takes the
    // picture's own dark blue instead of the default grey.
    setStyleSheet(QStringLiteral("TForm1 { background-color: #0e2864; }"));

    Image1 = new ClickableImage(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 677, 478);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    connect(Image1, &ClickableImage::clicked, this, &TForm1::Image1Click);

    // A coarse timer may fire up to 5 % late; the splash promises to be gone within one period.
    Timer1.setTimerType(Qt::PreciseTimer);
    Timer1.setInterval(3000);
    connect(&Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    Timer1.start();
}

void TForm1::Timer1Timer()
{
    if (isVisible()) close();
}

void TForm1::Image1Click()
{
    close();
}

void TForm1::showEvent(QShowEvent* event)
{
    // Decoded when first shown: the start-up does not pay for a picture nobody has seen yet.
    if (Image1->pixmap().isNull()) Image1->setPixmap(QPixmap::fromImage(PictureImage(QStringLiteral("splash"))));
    QDialog::showEvent(event);
    if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}
