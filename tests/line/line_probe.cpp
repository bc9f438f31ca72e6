// Takes serial numbers from the line as a bench would at its supplies' step 25, as fast as it can:
// line_probe <Config.Ini> <how many> <unit counter>; prints "SERIAL <n>" for each, or "REFUSED <why>".
#include "LineSettings.h"
#include "SerialAllocator.h"

#include <QCoreApplication>
#include <QUuid>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4) {
        std::fputs("usage: line_probe <Config.Ini> <count> <unit counter>\n", stderr);
        return 2;
    }
    LineCounter counter(LoadLineSettings(args[1], QStringLiteral("probe")), QString());
    int refused = 0;
    for (int i = 0; i < args[2].toInt(); ++i) {
        const SerialSource::Grant grant = counter.Take(args[3].toInt(), QUuid::createUuid().toString(QUuid::WithoutBraces));
        if (grant.serial == 0) {
            std::printf("REFUSED %s\n", qPrintable(grant.refusal));
            ++refused;
        } else {
            std::printf("SERIAL %u\n", grant.serial);
        }
    }
    return refused == 0 ? 0 : 1;
}
