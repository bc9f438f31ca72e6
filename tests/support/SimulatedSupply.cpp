// Runs the simulated supply as a child process on its own pseudo-terminal and keeps what it prints.
#include "SimulatedSupply.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

SimulatedSupply::SimulatedSupply(QString program) : program_(std::move(program))
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(&process_, &QProcess::readyReadStandardOutput,
                     [this] { take(process_.readAllStandardOutput()); });
}

void SimulatedSupply::take(const QByteArray& bytes)
{
    printed_ += bytes;
    if (bytes.isEmpty() || teePath_.isEmpty()) return;
    QFile tee(teePath_);
    if (tee.open(QIODevice::WriteOnly)) tee.write(printed_);
}

SimulatedSupply::~SimulatedSupply()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(2000);
    }
}

QString SimulatedSupply::start(const QStringList& args, int timeoutMs)
{
    process_.start(program_, args);
    if (!process_.waitForStarted(timeoutMs)) return {};
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        for (const QString& line : linesStartingWith(QStringLiteral("PTY ")))
            return line.mid(4).trimmed();
        process_.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    return {};
}

bool SimulatedSupply::stop(int timeoutMs)
{
    process_.terminate();
    const bool ended = process_.waitForFinished(timeoutMs);
    take(process_.readAllStandardOutput());
    return ended;
}

QString SimulatedSupply::output()
{
    take(process_.readAllStandardOutput());
    return QString::fromLatin1(printed_);
}

QStringList SimulatedSupply::linesStartingWith(const QString& prefix)
{
    QStringList lines;
    for (const QString& line : output().split(QLatin1Char('\n')))
        if (line.startsWith(prefix)) lines << line.trimmed();
    return lines;
}

QStringList SimulatedSupply::lastStateFields()
{
    const QStringList states = linesStartingWith(QStringLiteral("STATE "));
    if (states.isEmpty()) return {};
    return states.last().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

std::vector<SimulatedSupply::Received> SimulatedSupply::received()
{
    const QRegularExpression rx(QStringLiteral("^RX .* \\| frame \\d+ step (\\d+) at (\\d+) ms cmd 0x([0-9A-F]{2})"));
    const QRegularExpression tx(QStringLiteral("^TX .* \\| answer cmd 0x[0-9A-F]{2} at (\\d+) ms"));
    std::vector<Received> frames;
    for (const QString& line : output().split(QLatin1Char('\n'))) {
        if (const auto m = rx.match(line); m.hasMatch()) {
            frames.push_back({m.captured(1).toInt(), m.captured(3).toInt(nullptr, 16), m.captured(2).toLongLong(), -1});
        } else if (const auto a = tx.match(line); a.hasMatch() && !frames.empty()) {
            frames.back().answeredAtMs = a.captured(1).toLongLong();
        }
    }
    return frames;
}
