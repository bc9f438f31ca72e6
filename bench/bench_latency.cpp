// Prints how long an answer takes from its last byte on the line to the engine's handling of it,
// against the wait the link imposes itself (BaudWaitMs), at each baud rate. Figures only.
#include "QtClock.h"
#include "QtSerialControl.h"
#include "SerialLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// The supply's end of a pseudo-terminal, written by this program.
struct Pty {
    int master = -1;
    int slave = -1;
    QString slavePath;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        char name[128] = {};
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) return;
        slavePath = QString::fromLocal8Bit(name);
        slave = ::open(name, O_RDWR | O_NOCTTY);
        termios tio{};
        if (slave >= 0 && tcgetattr(slave, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(slave, TCSANOW, &tio);
        }
    }
    ~Pty()
    {
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
    }
};

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    constexpr int Answers = 40;
    std::printf("%-8s %10s %12s %12s %10s\n", "baud", "wait (ms)", "median (ms)", "worst (ms)", "over (ms)");
    for (int baud : {2400, 9600, 19200, 38400}) {
        Pty pty;
        if (pty.slave < 0) return 1;
        QtClock clock;
        QtSerialControl comm([&pty](int) { return pty.slavePath; });
        SerialLink link(comm, clock);
        QElapsedTimer sinceWrite;
        std::vector<double> latencies;
        link.setRunModeSource([] { return 1; });
        link.setReplyHandler([&] { latencies.push_back(static_cast<double>(sinceWrite.nsecsElapsed()) / 1e6); });
        link.SetDefaults();
        if (!link.OpenPort(1, baud)) return 1;
        TPsuFrame answer = MakeFrame(0, Cmd::ClearingAnswer);
        for (int i = 0; i < Answers; ++i) {
            Wait(20);
            if (::write(pty.master, answer.bytes.data(), TPsuFrame::Size) != TPsuFrame::Size) return 1;
            sinceWrite.start();
            const std::size_t before = latencies.size();
            for (int spin = 0; spin < 200 && latencies.size() == before; ++spin) Wait(1);
        }
        std::sort(latencies.begin(), latencies.end());
        if (latencies.empty()) return 1;
        const double median = latencies[latencies.size() / 2];
        const int wait = SerialLink::BaudWaitMs(baud);
        std::printf("%-8d %10d %12.2f %12.2f %10.2f\n", baud, wait, median, latencies.back(), median - wait);
    }
    return 0;
}
