// Prints the time from the first query to the settled value at one point, for a meter read over
// SCPI or through libsigrok: the first reading (which opens the meter) and the median of the next.
#include "MeterReader.h"
#include "MeterSettings.h"
#include "SigrokModule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_meter scpi|sigrok <device>\n");
        return 2;
    }
    const bool sigrok = QByteArray(argv[1]) == "sigrok";
    MeterSettings s;
    std::unique_ptr<MeterChannel> channel;
    if (sigrok) {
        s.connection = MeterSettings::Connection::Sigrok;
        s.driver = QStringLiteral("fluke-dmm");
        s.conn = QString::fromLocal8Bit(argv[2]);
        s.serialComm = QStringLiteral("115200/8n1");
        QString error;
        channel = MakeSigrokMeter(s, s.conn, &error);
        if (!channel) {
            std::fprintf(stderr, "bench_meter: %s\n", qPrintable(error));
            return 1;
        }
    } else {
        s.connection = MeterSettings::Connection::Serial;
        s.port = QString::fromLocal8Bit(argv[2]);
        channel = std::make_unique<MeterLink>(s, s.port);
    }
    MeterReader reader(*channel, s.settleShare, s.maxReads);
    std::vector<double> ms;
    for (int i = 0; i < 11; ++i) {
        QEventLoop loop;
        QElapsedTimer clock;
        MeterResult result;
        clock.start();
        reader.Read(MeterQuantity::Voltage, "MEAS:VOLT:DC?", [&](const MeterResult& r) {
            result = r;
            loop.quit();
        });
        loop.exec();
        if (!result.ok || !result.settled) {
            std::printf("%s reading %d: %s\n", argv[1], i + 1, qPrintable(MeterReader::Describe(result, MeterQuantity::Voltage)));
            return 1;
        }
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::vector<double> rest(ms.begin() + 1, ms.end());
    std::sort(rest.begin(), rest.end());
    std::printf("%s %.1f %.1f\n", argv[1], ms.front(), rest[rest.size() / 2]);
    return 0;
}
