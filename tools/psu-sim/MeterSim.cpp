// The simulated bench multimeter on the supply's terminals: SCPI over a pseudo-terminal or a
// loopback socket, or a hand-held Fluke 287 on the pseudo-terminal, answering with what the
// simulated supply outputs at that moment.
#include "MeterSim.h"

#include <QPointer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// What a meter measures at a terminal that carries the other quantity: the small voltage across
// the load at a current point, no current at a voltage point.
constexpr double VoltsAtCurrentPoint = 1.2;

// "+3.99880E+00", as SCPI meters write their readings.
QByteArray Scpi(double value)
{
    const QByteArray text = QByteArray::number(value, 'E', 5);
    return value < 0 ? text : "+" + text;
}

// What the Fluke 287 says of itself to ID: model, firmware, serial number.
const QByteArray FlukeIdentity = "FLUKE 287,V1.16,97830021";
// The 287 acknowledges each command with a line of its own: 0 done, 1 not understood.
const QByteArray FlukeDone = "0\r";
const QByteArray FlukeRefused = "1\r";
// The 287's remote value for a display showing OL.
const QByteArray FlukeOverload = "9.99999999E+37";

}  // namespace

MeterSim::MeterSim(MeterSimOptions options, std::function<OutputLevel()> terminals, QObject* parent)
    : QObject(parent), opt_(options), terminals_(std::move(terminals)), rng_(options.seed)
{
    connect(&server_, &QTcpServer::newConnection, this, &MeterSim::onConnection);
}

MeterSim::~MeterSim()
{
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);
    if (slaveFd_ >= 0) ::close(slaveFd_);
}

QString MeterSim::openPty(QString* error)
{
    fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    char name[128] = {};
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0 || ptsname_r(fd_, name, sizeof name) != 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return {};
    }
    // Held open, and raw, for the same reasons as the supply's own line.
    slaveFd_ = ::open(name, O_RDWR | O_NOCTTY);
    termios tio{};
    if (slaveFd_ < 0 || tcgetattr(slaveFd_, &tio) != 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return {};
    }
    cfmakeraw(&tio);
    tcsetattr(slaveFd_, TCSANOW, &tio);
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &MeterSim::onPtyReadable);
    return QString::fromLocal8Bit(name);
}

quint16 MeterSim::listenTcp(quint16 port, QString* error)
{
    if (!server_.listen(QHostAddress::LocalHost, port)) {
        *error = server_.errorString();
        return 0;
    }
    return server_.serverPort();
}

bool MeterSim::spend(int* budget)
{
    if (*budget == 0) return false;
    if (*budget > 0) --*budget;
    return true;
}

QByteArray MeterSim::answerTo(const QByteArray& question)
{
    const QByteArray q = question.trimmed().toUpper();
    if (q == "*IDN?") return "KORVEX-SIM,DMM-1,0,1.0";
    const bool volts = q.contains("VOLT");
    const bool amps = q.contains("CURR");
    if (!q.endsWith('?') || volts == amps) return "-113,\"Undefined header\"";
    const OutputLevel level = terminals_();
    double value = 0.0;
    if (volts) value = level.kind == OutputLevel::Volts ? level.value : level.kind == OutputLevel::Amps ? VoltsAtCurrentPoint : 0.0;
    if (amps) value = level.kind == OutputLevel::Amps ? level.value : 0.0;
    if (value != 0.0) {
        std::uniform_real_distribution<double> spread(-opt_.noise, opt_.noise);
        value += opt_.offset + (opt_.noise > 0 ? spread(rng_) : 0.0);
    }
    return Scpi(value);
}

void MeterSim::handle(QByteArray* inbox, const std::function<void(const QByteArray&)>& reply)
{
    int end;
    while ((end = inbox->indexOf('\n')) >= 0) {
        const QByteArray question = inbox->left(end);
        inbox->remove(0, end + 1);
        if (question.trimmed().isEmpty()) continue;
        QByteArray answer = answerTo(question);
        QString fault;
        if (spend(&opt_.silent)) {
            PsuSim::Print(QStringLiteral("METERRX %1 | not answered").arg(QString::fromLatin1(question.trimmed())));
            continue;
        }
        if (answer != "KORVEX-SIM,DMM-1,0,1.0" && spend(&opt_.garbage)) {
            answer = "#?!\x7f";
            fault = QStringLiteral(" [garbage]");
        } else if (answer != "KORVEX-SIM,DMM-1,0,1.0" && spend(&opt_.overload)) {
            answer = "+9.90000E+37";
            fault = QStringLiteral(" [overload]");
        }
        PsuSim::Print(QStringLiteral("METERRX %1 | METERTX %2%3")
                          .arg(QString::fromLatin1(question.trimmed()), QString::fromLatin1(answer), fault));
        answer += '\n';
        if (opt_.delayMs > 0)
            QTimer::singleShot(opt_.delayMs, this, [reply, answer] { reply(answer); });
        else
            reply(answer);
    }
}

void MeterSim::send(const std::function<void(const QByteArray&)>& reply, const QByteArray& bytes)
{
    if (opt_.delayMs > 0)
        QTimer::singleShot(opt_.delayMs, this, [reply, bytes] { reply(bytes); });
    else
        reply(bytes);
}

QByteArray MeterSim::flukeMeasurement()
{
    const OutputLevel level = terminals_();
    if (level.kind != OutputLevel::Off && (level.kind != lastLevel_.kind || level.value != lastLevel_.value)) ++levelNumber_;
    lastLevel_ = level;
    if (levelNumber_ > 0 && levelNumber_ == opt_.wrongDialPoint) return "1.2300E+1,OHM,NORMAL,NONE";
    // The dial follows the terminals: volts at a voltage point, amperes at a current point.
    const QByteArray unit = level.kind == OutputLevel::Amps ? "ADC" : "VDC";
    if (levelNumber_ > 0 && levelNumber_ == opt_.overloadPoint) return FlukeOverload + "," + unit + ",OL,NONE";
    // Open leads read a residue, never exactly zero, which the 287 would send and its driver
    // refuses as no number.
    double value = level.kind == OutputLevel::Off ? 0.0001 : level.value;
    if (level.kind != OutputLevel::Off) {
        std::uniform_real_distribution<double> spread(-opt_.noise, opt_.noise);
        value += opt_.offset + (opt_.noise > 0 ? spread(rng_) : 0.0);
    }
    return QByteArray::number(value, 'E', 5) + "," + unit + ",NORMAL,NONE";
}

void MeterSim::handleFluke(const std::function<void(const QByteArray&)>& reply)
{
    int end;
    while ((end = ptyInbox_.indexOf('\r')) >= 0) {
        const QByteArray command = ptyInbox_.left(end).trimmed().toUpper();
        ptyInbox_.remove(0, end + 1);
        if (command.isEmpty()) continue;
        QByteArray answer;
        if (command == "ID") answer = FlukeDone + FlukeIdentity + '\r';
        else if (command == "QM") answer = FlukeDone + flukeMeasurement() + '\r';
        else answer = FlukeRefused;
        if (opt_.unplugPoint > 0 && levelNumber_ >= opt_.unplugPoint) {
            // A USB meter's device vanishes with its cable: the pseudo-terminal goes away, and
            // whoever holds its other end reads an error from then on.
            PsuSim::Print(QStringLiteral("METERRX %1 | unplugged").arg(QString::fromLatin1(command)));
            // Called from the notifier's own signal: it goes once that has returned.
            notifier_.release()->deleteLater();
            ::close(fd_);
            fd_ = -1;
            ptyInbox_.clear();
            return;
        }
        if (spend(&opt_.silent)) {
            PsuSim::Print(QStringLiteral("METERRX %1 | not answered").arg(QString::fromLatin1(command)));
            continue;
        }
        QString fault;
        if (command == "QM" && spend(&opt_.garbage)) {
            answer = "#?!\x7f,\xff\r";
            fault = QStringLiteral(" [garbage]");
        }
        PsuSim::Print(QStringLiteral("METERRX %1 | METERTX %2%3")
                          .arg(QString::fromLatin1(command), QString::fromLatin1(answer.simplified()), fault));
        send(reply, answer);
    }
}

void MeterSim::onPtyReadable()
{
    char buf[256];
    ssize_t got;
    while ((got = ::read(fd_, buf, sizeof buf)) > 0) ptyInbox_.append(buf, static_cast<int>(got));
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) notifier_->setEnabled(false);
    const auto write = [this](const QByteArray& bytes) {
        if (fd_ < 0) return;
        [[maybe_unused]] const ssize_t sent = ::write(fd_, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    };
    if (opt_.fluke) {
        handleFluke(write);
        return;
    }
    handle(&ptyInbox_, [this](const QByteArray& bytes) {
        // An answer the line no longer takes is lost, as a real meter's would be; the reader's
        // timeout is what the calibrator goes by.
        if (fd_ < 0) return;
        [[maybe_unused]] const ssize_t sent = ::write(fd_, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    });
}

void MeterSim::onConnection()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        auto inbox = std::make_shared<QByteArray>();
        QPointer<QTcpSocket> alive(socket);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, inbox, alive] {
            *inbox += socket->readAll();
            handle(inbox.get(), [alive](const QByteArray& bytes) {
                if (alive) alive->write(bytes);
            });
        });
    }
}
