// Labels of a fixed size keep their whole text whatever faces the machine has.
#include "FitText.h"

#include <QLabel>

namespace {

bool ShowsWholeText(const QLabel& label)
{
    if (label.text().isEmpty()) return true;
    if (label.wordWrap()) return label.heightForWidth(label.width()) <= label.height();
    const QSize needed = label.sizeHint();
    return needed.width() <= label.width() && needed.height() <= label.height();
}

}  // namespace

void FitLabelText(QLabel* label, int pixels, int minPixels)
{
    if (!label) return;
    // The windows are drawn for Times New Roman metrics; a wider stand-in face would cut the text.
    QFont font = label->font();
    for (int px = pixels;; --px) {
        font.setPixelSize(px);
        label->setFont(font);
        if (px <= minPixels || ShowsWholeText(*label)) return;
    }
}
