// psu-sim: a simulated Korvex supply for trying the calibrator and for end-to-end tests.
#include "MeterSim.h"
#include "PsuSim.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

int Fail(const QString& text)
{
    std::fprintf(stderr, "psu-sim: %s\n", qPrintable(text));
    return 2;
}

bool ParseSerial(const QString& text, std::array<char, 6>* out)
{
    out->fill(' ');
    if (text == QLatin1String("none")) return true;
    bool isNumber = false;
    const uint number = text.toUInt(&isNumber);
    if (isNumber) {
        if (number > 999999) return false;
        const QByteArray digits = QByteArray::number(number).rightJustified(6, '0');
        std::copy_n(digits.constData(), 6, out->begin());
        return true;
    }
    // Anything else goes into the answer as it is: a supply with a damaged serial field.
    const QByteArray raw = text.toLatin1().left(6);
    std::copy(raw.begin(), raw.end(), out->begin());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    // Signals arrive through a descriptor so that the state is printed from the event loop.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGUSR1);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    const int sigFd = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("psu-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVEX_VERSION_TEXT));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated Korvex 7200 supply. Opens a pseudo-terminal and prints \"PTY <slave path>\" first,\n"
        "or attaches to --device. Output lines: PTY/DEVICE, RX, TX, NOANSWER, DROP, JUNK, METER, STATE,\n"
        "METERPTY, METERTCP, METERRX (a meter question and its answer),\n"
        "HANGUP, LINECLOSED, EXIT. RX and TX carry \"at <ms> ms\": when the frame was received and\n"
        "when its answer goes out, in milliseconds since the start. SIGUSR1 prints the state;\n"
        "SIGTERM/SIGINT print it and end.\n"
        "CMDS selects answers by command: all or hex codes (0x8C or 8C), comma-separated, each\n"
        "optionally limited to its first N occurrences with xN (0x8Cx2, allx1)."));
    const QCommandLineOption help = parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption device(QStringLiteral("device"), QStringLiteral("Attach to this device instead of a new pseudo-terminal."), QStringLiteral("path"));
    const QCommandLineOption baud(QStringLiteral("baud"), QStringLiteral("Baud rate for --device (default 9600)."), QStringLiteral("rate"), QStringLiteral("9600"));
    const QCommandLineOption address(QStringLiteral("address"), QStringLiteral("Supply address 0..255 (default 0)."), QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption serial(QStringLiteral("serial"), QStringLiteral("Serial number: a number 0..999999 (six digits), none (six blanks), or other text (up to six characters as they are). Default 42."), QStringLiteral("spec"), QStringLiteral("42"));
    const QCommandLineOption noAnswer(QStringLiteral("no-answer"), QStringLiteral("Do not answer these commands."), QStringLiteral("CMDS"));
    const QCommandLineOption noAnswerStep(QStringLiteral("no-answer-step"), QStringLiteral("Do not answer step N (N-th distinct frame; a repeated identical frame is the same step), for ever or K times with NxK. Comma-separated."), QStringLiteral("N[xK]"));
    const QCommandLineOption dropEvery(QStringLiteral("drop-every"), QStringLiteral("Leave out every k-th answer."), QStringLiteral("k"), QStringLiteral("0"));
    const QCommandLineOption badChecksum(QStringLiteral("bad-checksum"), QStringLiteral("Answer with checksum + 1."), QStringLiteral("CMDS"));
    const QCommandLineOption wrongAddress(QStringLiteral("wrong-address"), QStringLiteral("Answer with address + 1 (checksum right)."), QStringLiteral("CMDS"));
    const QCommandLineOption duplicate(QStringLiteral("duplicate"), QStringLiteral("Send the answer twice, the copy gap-ms after the first."), QStringLiteral("CMDS"));
    const QCommandLineOption noise(QStringLiteral("noise"), QStringLiteral("Put the noise bytes in front of the answer, in the same write."), QStringLiteral("CMDS"));
    const QCommandLineOption noiseBytes(QStringLiteral("noise-bytes"), QStringLiteral("Noise bytes in hex (default 550013)."), QStringLiteral("hex"), QStringLiteral("550013"));
    const QCommandLineOption split(QStringLiteral("split"), QStringLiteral("Write each answer in chunks of these sizes, the rest as a last chunk."), QStringLiteral("a,b,..."));
    const QCommandLineOption gap(QStringLiteral("gap-ms"), QStringLiteral("Pause between chunks and before a duplicate (default 5)."), QStringLiteral("ms"), QStringLiteral("5"));
    const QCommandLineOption delay(QStringLiteral("delay-ms"), QStringLiteral("Delay before each answer (default 0)."), QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption hangup(QStringLiteral("hangup-after"), QStringLiteral("Close the line 50 ms after answering the n-th frame addressed to us."), QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption atStep(QStringLiteral("at-step"), QStringLiteral("The faults above apply to the answers of step N only (N-th distinct frame)."), QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption hangupStep(QStringLiteral("hangup-step"), QStringLiteral("Close the line, unanswered, when the frame of step N arrives."), QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption randomFaults(QStringLiteral("random-faults"), QStringLiteral("Faults by chance from this seed: each answer may be lost, cut, doubled, late, noisy or with a wrong checksum."), QStringLiteral("seed"), QStringLiteral("0"));
    const QCommandLineOption model(QStringLiteral("model"), QStringLiteral("Model code 0..2 (7211B, 7212B, 7213B) whose levels the terminals carry (default 1)."), QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption meterPty(QStringLiteral("meter-pty"), QStringLiteral("Also simulate a multimeter on the terminals, on its own pseudo-terminal (prints \"METERPTY <path>\")."));
    const QCommandLineOption meterTcp(QStringLiteral("meter-tcp"), QStringLiteral("Also simulate the multimeter as raw SCPI on 127.0.0.1:PORT, 0 for a free port (prints \"METERTCP <port>\")."), QStringLiteral("port"));
    const QCommandLineOption meterOffset(QStringLiteral("meter-offset"), QStringLiteral("Added to every meter reading, in V or A (default 0)."), QStringLiteral("x"), QStringLiteral("0"));
    const QCommandLineOption meterNoise(QStringLiteral("meter-noise"), QStringLiteral("Each meter reading off by up to this much either way, in V or A (default 0)."), QStringLiteral("x"), QStringLiteral("0"));
    const QCommandLineOption meterDelay(QStringLiteral("meter-delay-ms"), QStringLiteral("Delay before each meter answer (default 0)."), QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption meterFault(QStringLiteral("meter-fault"), QStringLiteral("silent, garbage or overload, for ever or for the first N questions with xN (garbagex2). Repeatable."), QStringLiteral("KIND[xN]"));
    const QCommandLineOption meterFluke(QStringLiteral("meter-fluke"), QStringLiteral("The meter on --meter-pty is a hand-held Fluke 287 (its ID and QM commands, lines ending in CR) instead of SCPI."));
    const QCommandLineOption meterWrongDial(QStringLiteral("meter-wrong-dial"), QStringLiteral("With --meter-fluke: at the N-th level the terminals carry, the dial is on ohms."), QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption meterOverloadAt(QStringLiteral("meter-overload-at"), QStringLiteral("With --meter-fluke: at the N-th level the terminals carry, the display shows OL."), QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption meterUnplugAt(QStringLiteral("meter-unplug-at"), QStringLiteral("With --meter-fluke: from the N-th level the terminals carry on, the cable is pulled: the pseudo-terminal is closed."), QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption exitAfter(QStringLiteral("exit-after"), QStringLiteral("Print the state and end after this many ms."), QStringLiteral("ms"), QStringLiteral("0"));
    parser.addOptions({device, baud, address, serial, noAnswer, noAnswerStep, dropEvery, badChecksum, wrongAddress, duplicate,
                       noise, noiseBytes, split, gap, delay, hangup, atStep, hangupStep, randomFaults, model, meterPty, meterTcp, meterOffset, meterNoise, meterDelay,
                       meterFault, meterFluke, meterWrongDial, meterOverloadAt, meterUnplugAt, exitAfter});
    if (!parser.parse(QCoreApplication::arguments())) {
        const QStringList unknown = parser.unknownOptionNames();
        const QString problem = unknown.isEmpty() ? parser.errorText()
                                                  : QStringLiteral("unrecognized option '%1%2'")
                                                        .arg(unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), unknown.first());
        return Fail(QStringLiteral("%1\nTry 'psu-sim --help' for more information.").arg(problem));
    }
    if (parser.isSet(help)) {
        // The usage names the program by its name, not by the path it was started by.
        QString text = parser.helpText();
        const QString startedBy = QCoreApplication::arguments().constFirst();
        const QString startedAs = QStringLiteral("Usage: ") + startedBy;
        if (text.startsWith(startedAs)) text.replace(0, startedAs.size(), QStringLiteral("Usage: ") + QFileInfo(startedBy).fileName());
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    // --version and --help-all, Qt's own way.
    parser.process(app);

    PsuSimOptions opt;
    QString error;
    bool ok = true;
    opt.address = parser.value(address).toInt(&ok);
    if (!ok || opt.address < 0 || opt.address > 255) return Fail(QStringLiteral("bad --address"));
    if (!ParseSerial(parser.value(serial), &opt.serial)) return Fail(QStringLiteral("bad --serial"));
    const std::pair<const QCommandLineOption*, FaultSelector*> selectors[] = {
        {&noAnswer, &opt.noAnswer}, {&badChecksum, &opt.badChecksum}, {&wrongAddress, &opt.wrongAddress},
        {&duplicate, &opt.duplicate}, {&noise, &opt.noise}};
    for (const auto& [option, selector] : selectors) {
        for (const QString& v : parser.values(*option))
            if (!selector->parse(v, &error)) return Fail(error);
    }
    for (const QString& v : parser.values(noAnswerStep)) {
        for (const QString& item : v.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QStringList parts = item.split(QLatin1Char('x'));
            bool okStep = false, okTimes = true;
            const int step = parts[0].toInt(&okStep);
            const int times = parts.size() > 1 ? parts[1].toInt(&okTimes) : -1;
            if (!okStep || !okTimes || parts.size() > 2 || step < 1) return Fail(QStringLiteral("bad --no-answer-step"));
            opt.noAnswerSteps[step] = times;
        }
    }
    opt.dropEvery = parser.value(dropEvery).toInt();
    opt.noiseBytes = QByteArray::fromHex(parser.value(noiseBytes).toLatin1());
    if (!opt.noiseBytes.isEmpty() && static_cast<std::uint8_t>(opt.noiseBytes[0]) == FrameStart)
        return Fail(QStringLiteral("noise must not begin with AA"));
    for (const QString& s : parser.value(split).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int n = s.toInt(&ok);
        if (!ok || n < 1) return Fail(QStringLiteral("bad --split"));
        opt.split.push_back(n);
    }
    opt.gapMs = parser.value(gap).toInt();
    opt.delayMs = parser.value(delay).toInt();
    opt.hangupAfter = parser.value(hangup).toInt();
    opt.atStep = parser.value(atStep).toInt();
    opt.randomSeed = parser.value(randomFaults).toUInt();
    opt.hangupStep = parser.value(hangupStep).toInt();
    opt.model = parser.value(model).toInt(&ok);
    if (!ok || opt.model < 0 || opt.model > 2) return Fail(QStringLiteral("bad --model"));

    MeterSimOptions meterOpt;
    meterOpt.offset = parser.value(meterOffset).toDouble();
    meterOpt.noise = parser.value(meterNoise).toDouble();
    meterOpt.delayMs = parser.value(meterDelay).toInt();
    meterOpt.fluke = parser.isSet(meterFluke);
    meterOpt.wrongDialPoint = parser.value(meterWrongDial).toInt();
    meterOpt.overloadPoint = parser.value(meterOverloadAt).toInt();
    meterOpt.unplugPoint = parser.value(meterUnplugAt).toInt();
    for (const QString& v : parser.values(meterFault)) {
        const QStringList parts = v.split(QLatin1Char('x'));
        bool okTimes = true;
        const int times = parts.size() > 1 ? parts[1].toInt(&okTimes) : -1;
        int* budget = parts[0] == QLatin1String("silent") ? &meterOpt.silent
                      : parts[0] == QLatin1String("garbage") ? &meterOpt.garbage
                      : parts[0] == QLatin1String("overload") ? &meterOpt.overload
                                                              : nullptr;
        if (!budget || !okTimes || parts.size() > 2) return Fail(QStringLiteral("bad --meter-fault"));
        *budget = times;
    }

    PsuSim sim(opt);
    if (parser.isSet(device)) {
        if (!sim.attach(parser.value(device), parser.value(baud).toInt(), &error)) return Fail(error);
        PsuSim::Print(QStringLiteral("DEVICE %1").arg(parser.value(device)));
    } else {
        const QString path = sim.openPty(&error);
        if (path.isEmpty()) return Fail(error);
        PsuSim::Print(QStringLiteral("PTY %1").arg(path));
    }
    sim.printState();

    MeterSim meter(meterOpt, [&sim] { return sim.output(); });
    if (parser.isSet(meterPty)) {
        const QString path = meter.openPty(&error);
        if (path.isEmpty()) return Fail(error);
        PsuSim::Print(QStringLiteral("METERPTY %1").arg(path));
    }
    if (parser.isSet(meterTcp)) {
        const quint16 port = meter.listenTcp(static_cast<quint16>(parser.value(meterTcp).toUInt()), &error);
        if (port == 0) return Fail(error);
        PsuSim::Print(QStringLiteral("METERTCP %1").arg(port));
    }

    auto finish = [&sim] {
        sim.printState();
        PsuSim::Print(QStringLiteral("EXIT"));
        QCoreApplication::quit();
    };
    QSocketNotifier signalNotifier(sigFd, QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
        signalfd_siginfo info{};
        while (::read(sigFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (info.ssi_signo == SIGUSR1)
                sim.printState();
            else
                finish();
        }
    });
    QTimer exitTimer;
    exitTimer.setSingleShot(true);
    QObject::connect(&exitTimer, &QTimer::timeout, finish);
    if (const int ms = parser.value(exitAfter).toInt(); ms > 0) exitTimer.start(ms);

    const int rc = QCoreApplication::exec();
    ::close(sigFd);
    return rc;
}
