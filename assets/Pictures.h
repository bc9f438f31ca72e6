// The program's built-in pictures (toolbar icons, banner, logos, splash, wiring pictures).
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

// Decodes ":/pictures/<name>.jpg"; a null image when the picture is missing or damaged.
QImage PictureImage(const QString& name);

// Every picture the program carries, by name.
QStringList PictureNames();
