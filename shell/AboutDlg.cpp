// The about box TFormAbout: the maker's logo, the program's name and its version line.
#include "AboutDlg.h"

#include "FitText.h"
#include "Pictures.h"
#include "Version.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

namespace {

const QColor Maroon(0x80, 0x00, 0x00);
constexpr int NamePixels = 19;
constexpr int VersionPixels = 15;

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

    // Times New Roman where it is installed, else its metric twin Liberation Serif; with any other
    // face the lines are set smaller where they would not fit the frame.
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

    Label6 = MaroonLabel(QStringLiteral("Label6"), QStringLiteral("Korvex  7200 Series "), NamePixels, Bevel1);
    Label6->setGeometry(14, 100, 312, 26);
    Label1 = MaroonLabel(QStringLiteral("Label1"), QStringLiteral(" PowerSupply Calibration Program"), NamePixels, Bevel1);
    Label1->setGeometry(14, 132, 312, 26);
    Label2 = MaroonLabel(QStringLiteral("Label2"), QStringLiteral("Ver : " KORVEX_VERSION_TEXT), VersionPixels, Bevel1);
    Label2->setGeometry(14, 172, 312, 22);
    FitTexts();

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

void TFormAbout::FitTexts()
{
    FitLabelText(Label6, NamePixels);
    FitLabelText(Label1, NamePixels);
    FitLabelText(Label2, VersionPixels);
}

void TFormAbout::showEvent(QShowEvent* event)
{
    // The version line is written by whoever opens the box.
    FitTexts();
    // Decoded when first shown, like every picture of a window that may never open.
    if (Image1->pixmap().isNull()) Image1->setPixmap(QPixmap::fromImage(PictureImage(QStringLiteral("about_logo"))));
    QDialog::showEvent(event);
    if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}
