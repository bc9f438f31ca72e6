// The serial control over QSerialPort on Linux: port numbers resolved to devices, line errors polled.
#include "QtSerialControl.h"

#include <QDeadlineTimer>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/serial.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int LineErrorPollMs = 100;

// QSerialPort keeps a port closed while a lock file in one of these names a running process, or
// while it may not remove a stale one (another user's, in a sticky directory).
QString LockFileOf(const QString& device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/"))) name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char* dir : {"/var/lock", "/run/lock"}) {
        const QString path = QStringLiteral("%1/LCK..%2").arg(QLatin1String(dir), name);
        // Anyone may plant this name: no link is followed, no pipe waited on, a few bytes read.
        const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        char text[32] = {};
        const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        const ssize_t got = regular ? ::read(fd, text, sizeof text - 1) : -1;
        ::close(fd);
        if (!regular) return QStringLiteral("%1 is blocked by %2, which is not a lock file").arg(device, path);
        const passwd* pw = ::getpwuid(st.st_uid);
        const QString user = pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(st.st_uid);
        bool number = false;
        const qint64 pid = QByteArray(text, static_cast<int>(qMax<ssize_t>(0, got))).split('\n').front().trimmed().toLongLong(&number);
        QString holder = QStringLiteral("no process number");
        if (number && pid > 0) {
            const bool running = ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
            holder = QStringLiteral("pid %1%2").arg(pid).arg(running ? QString() : QStringLiteral(", which has ended"));
        }
        return QStringLiteral("%1 is locked by %2 of user %3, %4").arg(device, path, user, holder);
    }
    return {};
}
}  // namespace

QtSerialControl::QtSerialControl(PortResolver resolver, QObject* parent)
    : QObject(parent), resolver_(std::move(resolver))
{
    dispatch_.setSingleShot(true);
    dispatch_.setInterval(0);
    connect(&dispatch_, &QTimer::timeout, this, &QtSerialControl::dispatchOne);
    errorPoll_.setInterval(LineErrorPollMs);
    connect(&errorPoll_, &QTimer::timeout, this, &QtSerialControl::pollLineErrors);
    connect(&port_, &QSerialPort::readyRead, this, &QtSerialControl::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
}

QtSerialControl::~QtSerialControl()
{
    dispatch_.stop();
    errorPoll_.stop();
    // No events may reach the owner while it is tearing down.
    setOnComm({});
    if (port_.isOpen()) port_.close();
}

bool QtSerialControl::setPortOpen(bool open)
{
    if (!open) {
        errorPoll_.stop();
        if (port_.isOpen()) port_.close();
        receivePending_ = false;
        std::erase(pending_, CommEv::Receive);
        return true;
    }
    if (port_.isOpen()) return true;
    openFailure_.clear();

    bool ok = false;
    const int baud = settings_.section(QLatin1Char(','), 0, 0).trimmed().toInt(&ok);
    if (!ok || baud <= 0) return false;
    devicePath_ = resolver_ ? resolver_(commPort_) : QStringLiteral("/dev/ttyS%1").arg(commPort_ - 1);
    port_.setPortName(devicePath_);
    port_.setBaudRate(baud);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    hangUpPending_ = false;
    if (!port_.open(QIODevice::ReadWrite)) {
        openFailure_ = describeOpenFailure();
        port_.clearError();
        return false;
    }
    // Bytes that reached the device while it was closed belong to no question we asked.
    port_.clear(QSerialPort::Input);

    if (readCounters(&frameErrors_, &parityErrors_, &overruns_)) errorPoll_.start();
    return true;
}

QString QtSerialControl::describeOpenFailure() const
{
    switch (port_.error()) {
        case QSerialPort::DeviceNotFoundError: return QStringLiteral("there is no device %1").arg(devicePath_);
        case QSerialPort::OpenError: return QStringLiteral("%1 is open already").arg(devicePath_);
        case QSerialPort::PermissionError: {
            const QString locked = LockFileOf(devicePath_);
            return locked.isEmpty() ? QStringLiteral("permission to open %1 is denied").arg(devicePath_) : locked;
        }
        default: return QStringLiteral("%1: %2").arg(devicePath_, port_.errorString());
    }
}

bool QtSerialControl::modemLine(bool ok)
{
    if (ok) return true;
    // A pseudo-terminal or a bare adapter has no modem lines; the port itself still works.
    const bool unsupported = port_.error() == QSerialPort::UnsupportedOperationError;
    port_.clearError();
    return unsupported;
}

bool QtSerialControl::setDTREnable(bool on)
{
    if (!port_.isOpen()) return false;
    return modemLine(port_.setDataTerminalReady(on));
}

bool QtSerialControl::setRTSEnable(bool on)
{
    if (!port_.isOpen()) return false;
    return modemLine(port_.setRequestToSend(on));
}

int QtSerialControl::inBufferCount() const
{
    if (!port_.isOpen()) return 0;
    return static_cast<int>(qMin<qint64>(port_.bytesAvailable(), 0x7FFF));
}

bool QtSerialControl::setInBufferCount(int count)
{
    if (count != 0 || !port_.isOpen()) return true;
    return port_.clear(QSerialPort::Input);
}

int QtSerialControl::outBufferCount() const
{
    if (!port_.isOpen()) return 0;
    return static_cast<int>(qMin<qint64>(port_.bytesToWrite(), 0x7FFF));
}

bool QtSerialControl::setOutBufferCount(int count)
{
    if (count != 0 || !port_.isOpen()) return true;
    return port_.clear(QSerialPort::Output);
}

QByteArray QtSerialControl::input()
{
    if (!port_.isOpen()) return {};
    return port_.readAll();
}

bool QtSerialControl::setOutput(const QByteArray& bytes)
{
    if (!port_.isOpen()) return false;
    return port_.write(bytes) == bytes.size();
}

bool QtSerialControl::flushOutput()
{
    if (!port_.isOpen()) return false;
    if (port_.bytesToWrite() == 0) return true;
    port_.flush();
    // A line that cannot take the bytes yet (output stopped, buffer full) makes flush() report a
    // write error; that is not a broken port, and waitUntilSent tells whether they ever leave. A
    // device that is gone reports a resource error instead and is closed as a hang-up.
    if (port_.error() == QSerialPort::WriteError) port_.clearError();
    return port_.isOpen();
}

bool QtSerialControl::waitUntilSent(int timeoutMs)
{
    if (!port_.isOpen()) return false;
    const QDeadlineTimer deadline(qMax(0, timeoutMs));
    // First out of QSerialPort's own buffer into the device...
    while (port_.bytesToWrite() > 0) {
        if (deadline.hasExpired()) return false;
        port_.waitForBytesWritten(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        if (!port_.isOpen()) return false;
        if (port_.error() == QSerialPort::WriteError || port_.error() == QSerialPort::TimeoutError)
            port_.clearError();
    }
    // ...then out of the driver's queue, and off the UART's shift register where the driver can
    // tell. Polled rather than tcdrain(), which has no time limit on a line that never drains.
    const int fd = port_.handle();
    for (;;) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
        if (deadline.hasExpired()) return false;
        QThread::usleep(500);
    }
    for (;;) {
        unsigned int lineStatus = 0;
        if (::ioctl(fd, TIOCSERGETLSR, &lineStatus) != 0 || (lineStatus & TIOCSER_TEMT) != 0) break;
        if (deadline.hasExpired()) return false;
        QThread::usleep(200);
    }
    return true;
}

void QtSerialControl::post(int event)
{
    if (event == CommEv::Receive) {
        if (receivePending_) return;
        receivePending_ = true;
    }
    pending_.push_back(event);
    if (!dispatch_.isActive()) dispatch_.start();
}

void QtSerialControl::dispatchOne()
{
    if (pending_.empty()) return;
    const int event = pending_.front();
    pending_.pop_front();
    // Re-arm first: a handler that pumps events must still get the ones queued behind it.
    if (!pending_.empty()) dispatch_.start();

    if (event == CommEv::Receive) {
        receivePending_ = false;
        if (!port_.isOpen() || port_.bytesAvailable() == 0) return;
    } else if (event == CommEv::HangUp) {
        errorPoll_.stop();
        if (port_.isOpen()) port_.close();
        receivePending_ = false;
        std::erase(pending_, CommEv::Receive);
    }
    event_ = event;
    raiseOnComm();
}

void QtSerialControl::onReadyRead() { post(CommEv::Receive); }

void QtSerialControl::onError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError) return;
    ++deviceErrorSignals_;
    if (!port_.isOpen() || hangUpPending_) return;
    // The device is gone. Qt repeats this error on every pass of the event loop until the port
    // is closed; the close happens once, from the event queue, outside QSerialPort's own call.
    hangUpPending_ = true;
    errorPoll_.stop();
    post(CommEv::HangUp);
}

bool QtSerialControl::readCounters(int* frame, int* parity, int* overrun) const
{
    if (!port_.isOpen()) return false;
    serial_icounter_struct counters{};
    if (::ioctl(port_.handle(), TIOCGICOUNT, &counters) != 0) return false;
    *frame = counters.frame;
    *parity = counters.parity;
    *overrun = counters.overrun + counters.buf_overrun;
    return true;
}

void QtSerialControl::pollLineErrors()
{
    int frame = 0, parity = 0, overrun = 0;
    if (!readCounters(&frame, &parity, &overrun)) {
        errorPoll_.stop();
        return;
    }
    const bool frameMoved = frame != frameErrors_;
    const bool parityMoved = parity != parityErrors_;
    const bool overrunMoved = overrun != overruns_;
    frameErrors_ = frame;
    parityErrors_ = parity;
    overruns_ = overrun;
    if (frameMoved) post(CommEv::Frame);
    if (parityMoved) post(CommEv::RxParity);
    if (overrunMoved) post(CommEv::RxOver);
}
