// Whether labels show their whole text, as Qt itself lays the text out in them.
#pragma once

#include <QLabel>
#include <QStringList>

inline bool ShowsWholeText(const QLabel& label)
{
    if (label.text().isEmpty()) return true;
    if (label.wordWrap()) return label.heightForWidth(label.width()) <= label.height();
    const QSize needed = label.sizeHint();
    return needed.width() <= label.width() && needed.height() <= label.height();
}

// The texts of the labels under root that the operator would see cut, with the font they are
// drawn in. Labels that are never shown do not count.
inline QStringList CutLabels(const QWidget& root)
{
    QStringList cut;
    for (const QLabel* label : root.findChildren<QLabel*>())
        if (label->isVisibleTo(&root) && !ShowsWholeText(*label)) cut << label->text() + QStringLiteral(" [") + label->font().toString() + QLatin1Char(']');
    return cut;
}
