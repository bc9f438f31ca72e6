// The line to a bench multimeter: one SCPI query at a time over a serial port or raw TCP, each
// with its time limit, all of it event-driven so that nothing waits on the user-interface thread.
#include "MeterLink.h"

namespace {
// An answer line is a number; anything much longer is not one and must not grow without end.
constexpr int LongestAnswer = 4096;
}

MeterLink::MeterLink(MeterSettings settings, QString devicePath, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), devicePath_(std::move(devicePath))
{
    timeout_.setSingleShot(true);
    connect(&timeout_, &QTimer::timeout, this, &MeterLink::OnTimeout);
    connect(&serial_, &QSerialPort::readyRead, this, &MeterLink::OnReadable);
    connect(&serial_, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::ResourceError || e == QSerialPort::ReadError) OnLost(serial_.errorString());
    });
    connect(&socket_, &QTcpSocket::readyRead, this, &MeterLink::OnReadable);
    connect(&socket_, &QTcpSocket::connected, this, &MeterLink::Send);
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) { OnLost(socket_.errorString()); });
}

MeterLink::~MeterLink()
{
    pending_ = {};
    Close();
}

QIODevice* MeterLink::device()
{
    return settings_.connection == MeterSettings::Connection::Tcp ? static_cast<QIODevice*>(&socket_)
                                                                   : static_cast<QIODevice*>(&serial_);
}

void MeterLink::Close()
{
    timeout_.stop();
    if (serial_.isOpen()) serial_.close();
    socket_.abort();
}

void MeterLink::Cancel()
{
    pending_ = {};
    timeout_.stop();
    // An answer that comes after all belongs to no question: start the next one from a clean line.
    Close();
}

void MeterLink::Query(const QByteArray& command, Answer answer)
{
    if (!answer) return;
    if (pending_) {
        answer({}, QStringLiteral("the meter is still answering an earlier question"));
        return;
    }
    QByteArray line = command;
    while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
    command_ = line + settings_.lineEnd;
    received_.clear();
    pending_ = std::move(answer);
    timeout_.start(settings_.timeoutMs);

    switch (settings_.connection) {
        case MeterSettings::Connection::None:
            Finish({}, QStringLiteral("no meter is set up"));
            return;
        case MeterSettings::Connection::Serial:
            if (!serial_.isOpen()) {
                serial_.setPortName(devicePath_);
                serial_.setBaudRate(settings_.baud);
                serial_.setDataBits(QSerialPort::Data8);
                serial_.setParity(QSerialPort::NoParity);
                serial_.setStopBits(QSerialPort::OneStop);
                if (!serial_.open(QIODevice::ReadWrite)) {
                    const QString why = serial_.errorString();
                    serial_.clearError();
                    Finish({}, QStringLiteral("the meter's port %1 cannot be opened: %2").arg(devicePath_, why));
                    return;
                }
            }
            serial_.clear(QSerialPort::Input);
            Send();
            return;
        case MeterSettings::Connection::Tcp:
            if (socket_.state() == QAbstractSocket::ConnectedState) {
                socket_.readAll();
                Send();
            } else if (socket_.state() == QAbstractSocket::UnconnectedState) {
                socket_.connectToHost(settings_.host, settings_.tcpPort);
            }
            return;
    }
}

void MeterLink::Send()
{
    if (!pending_ || command_.isEmpty()) return;
    QIODevice* d = device();
    if (d->write(command_) != command_.size()) {
        Finish({}, QStringLiteral("the question cannot be sent to the meter: %1").arg(d->errorString()));
        return;
    }
    command_.clear();
}

void MeterLink::OnReadable()
{
    const QByteArray bytes = device()->readAll();
    if (!pending_) return;
    received_ += bytes;
    const char last = settings_.lineEnd.isEmpty() ? '\n' : settings_.lineEnd.back();
    const int end = received_.indexOf(last);
    if (end >= 0) {
        QByteArray line = received_.left(end);
        while (line.endsWith('\r') || line.endsWith('\n')) line.chop(1);
        Finish(line, QString());
    } else if (received_.size() > LongestAnswer) {
        Finish({}, QStringLiteral("the meter sends without end"));
    }
}

void MeterLink::OnTimeout()
{
    if (!pending_) return;
    // A late answer must not be taken for the next question's.
    Close();
    Finish({}, QStringLiteral("the meter did not answer within %1 s").arg(settings_.timeoutMs / 1000.0, 0, 'g', 3));
}

void MeterLink::OnLost(const QString& why)
{
    if (!pending_) {
        Close();
        return;
    }
    Close();
    Finish({}, QStringLiteral("the connection to the meter was lost: %1").arg(why));
}

void MeterLink::Finish(const QByteArray& line, const QString& error)
{
    timeout_.stop();
    Answer answer = std::move(pending_);
    pending_ = {};
    if (answer) answer(line, error);
}
