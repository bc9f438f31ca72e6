// The information window: the prompt of a calibration point beside its multimeter wiring picture.
#include "Unit3.h"

#include "FitText.h"
#include "Pictures.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace {

QLabel* MakePicture(QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setGeometry(303, 8, 290, 193);
    label->setScaledContents(true);
    // Decoded when the picture is first shown (see ShowPicture).
    label->setProperty("picture", QString::fromLatin1(name));
    return label;
}

constexpr int PromptPixels = 17;

}  // namespace

TForm3::TForm3(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Information"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(601, 252);

    Label1 = new QLabel(this);
    Label1->setGeometry(8, 8, 291, 145);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FitLabelText(Label1, PromptPixels);

    Image1 = MakePicture(this, "wiring_mv");
    Image2 = MakePicture(this, "wiring_v");
    Image3 = MakePicture(this, "wiring_ma");
    Image4 = MakePicture(this, "wiring_a");

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(0, 207, 601, 4);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setGeometry(263, 218, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { done(1); });

    // The first picture stands in front until a prompt chooses; it is decoded only when shown.
    for (QLabel* label : {Image2, Image3, Image4}) label->hide();
}

void TForm3::SetPrompt(const QString& text)
{
    Label1->setText(text);
    FitLabelText(Label1, PromptPixels);
}

QLabel* TForm3::image(int picture) const
{
    switch (picture) {
    case 1: return Image1;
    case 2: return Image2;
    case 3: return Image3;
    default: return Image4;
    }
}

void TForm3::ShowPicture(int picture)
{
    QLabel* shown = image(picture);
    if (shown->pixmap().isNull()) {
        const QImage decoded = PictureImage(shown->property("picture").toString());
        if (!decoded.isNull()) shown->setPixmap(QPixmap::fromImage(decoded));
    }
    for (QLabel* label : {Image1, Image2, Image3, Image4}) label->setVisible(label == shown);
}

int TForm3::VisiblePicture() const
{
    for (int picture = 1; picture <= 4; ++picture)
        if (!image(picture)->isHidden()) return picture;
    return 0;
}
