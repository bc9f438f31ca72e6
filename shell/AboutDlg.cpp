// The about box TFormAbout: the maker's logo, the program's name and its version line.
#include "AboutDlg.h"

#include "Pictures.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

namespace {

const QColor Maroon(0x80, 0x00, 0x00);

QLabel* MaroonLabel(const QString& name, const QString& text, int pixels, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    QFont font = label->font();
    font.setPixelSize(pixels);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Maroon);
    label->setPalette(palette);
    return label;
}

} // namespace

TFormAbout::TFormAbout(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About"));
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(349, 283);

    // Times New Roman where it is installed; otherwise a serif face of similar width, so that the
    // name line still fits the frame at 19 pixels.
    QFont face = font();
    face.setFamilies({QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"),
                      QStringLiteral("DejaVu Serif Condensed"), QStringLiteral("DejaVu Serif")});
    face.setStyleHint(QFont::Serif);
    setFont(face);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::Panel);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setLineWidth(1);
    Bevel1->setGeometry(8, 8, 333, 222);

    Image1 = new QLabel(Bevel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(12, 12, 76, 73);
    Image1->setPixmap(QPixmap::fromImage(PictureImage(QStringLiteral("about_logo"))));

    Label6 = MaroonLabel(QStringLiteral("Label6"), QStringLiteral("Korvex  7200 Series "), 19, Bevel1);
    Label6->setGeometry(14, 100, 312, 26);
    Label1 = MaroonLabel(QStringLiteral("Label1"), QStringLiteral(" PowerSupply Calibration Program"), 19, Bevel1);
    Label1->setGeometry(14, 132, 312, 26);
    Label2 = MaroonLabel(QStringLiteral("Label2"), QStringLiteral("Ver : 1.0.0.0"), 15, Bevel1);
    Label2->setGeometry(14, 172, 312, 22);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    Button1->setGeometry(137, 242, 75, 28);
    connect(Button1, &QPushButton::clicked, this, &TFormAbout::Button1Click);
}

void TFormAbout::Button1Click()
{
    close();
}

void TFormAbout::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}
