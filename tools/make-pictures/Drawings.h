// The drawings behind every built-in picture, each on its own QImage of the size the windows expect.
#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <vector>

struct Drawing {
    QString name;
    std::function<QImage()> draw;
    int quality = 92;
};

std::vector<Drawing> AllDrawings();
