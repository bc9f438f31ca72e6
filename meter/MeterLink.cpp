// The line to a bench multimeter: one SCPI query at a time over a serial port or raw TCP, each
// with its time limit, all of it event-driven so that nothing waits on the user-interface thread.
#include "MeterLink.h"

#include <QPointer>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <thread>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// An answer line is a number or the meter's name; anything much longer is not an answer, and a
// meter that sends more than that unasked, or without a line end, floods the line.
constexpr int LongestAnswer = 4096;

QString SystemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

struct Lookup {
    QByteArrayList addresses;
    int error = 0;
    QString why;
};

// With AI_NUMERICHOST this answers at once; for a name it may wait seconds on the name service.
Lookup Resolve(const QByteArray& host, quint16 port, int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    Lookup result;
    result.error = ::getaddrinfo(host.constData(), QByteArray::number(port).constData(), &hints, &found);
    if (result.error != 0)
        result.why = result.error == EAI_SYSTEM ? SystemError(errno) : QString::fromLocal8Bit(::gai_strerror(result.error));
    for (const addrinfo* a = found; a; a = a->ai_next)
        result.addresses << QByteArray(reinterpret_cast<const char*>(a->ai_addr), static_cast<qsizetype>(a->ai_addrlen));
    if (found) ::freeaddrinfo(found);
    return result;
}
}  // namespace

void MeterChannel::Measure(MeterQuantity quantity, const QByteArray& query, Reading done)
{
    Query(query, [quantity, done = std::move(done)](const QByteArray& line, const QString& error) {
        done(error.isEmpty() ? ParseMeterReply(line, quantity) : MeterReply{}, error);
    });
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
}

MeterLink::~MeterLink()
{
    pending_ = {};
    Close();
}

void MeterLink::Close()
{
    timeout_.stop();
    if (serial_.isOpen()) serial_.close();
    // With the notifiers gone and the attempt counted, nothing of this connection, not even a
    // look-up still under way, can reach a later question.
    ++attempt_;
    addresses_.clear();
    tcp_ = Tcp::Closed;
    unasked_ = 0;
    CloseSocket();
}

void MeterLink::CloseSocket()
{
    readable_.reset();
    writable_.reset();
    // The meter is told the end first: a close with its bytes still unread would only reset.
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void MeterLink::Cancel()
{
    pending_ = {};
    timeout_.stop();
    // An answer that comes after all belongs to no question: start the next one from a clean line.
    Close();
}

void MeterLink::Measure(MeterQuantity quantity, const QByteArray& query, Reading done)
{
    if (identityAsked_ || !done) {
        MeterChannel::Measure(quantity, query, std::move(done));
        return;
    }
    identityAsked_ = true;
    Query("*IDN?", [this, quantity, query, done = std::move(done)](const QByteArray& line, const QString& error) {
        // A meter that cannot say who it is will not read either: one wait, one message.
        if (!error.isEmpty()) {
            done({}, error);
            return;
        }
        const QString where = settings_.connection == MeterSettings::Connection::Tcp ? settings_.describe().mid(4) : devicePath_;
        identity_ = ParseIdn(line, where);
        MeterChannel::Measure(quantity, query, done);
    });
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
        case MeterSettings::Connection::Sigrok:
            Finish({}, QStringLiteral("the meter is read through libsigrok, not over an SCPI line"));
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
            if (tcp_ == Tcp::Open) {
                // What came unasked is dropped; a meter that does not stop sending gets a fresh line.
                char stale[LongestAnswer];
                ssize_t got = 0;
                while (unasked_ <= LongestAnswer && (got = ::recv(fd_, stale, sizeof stale, 0)) > 0) unasked_ += got;
                if (unasked_ > LongestAnswer) {
                    Close();
                    timeout_.start(settings_.timeoutMs);
                }
                unasked_ = 0;
            }
            if (tcp_ == Tcp::Open)
                Send();
            else if (tcp_ == Tcp::Closed)
                LookUp();
            return;
    }
}

void MeterLink::LookUp()
{
    Lookup numeric = Resolve(settings_.host.toUtf8(), settings_.tcpPort, AI_NUMERICHOST);
    if (numeric.error != EAI_NONAME) {
        OnLookedUp(std::move(numeric.addresses), numeric.why);
        return;
    }
    // A name may take the name service seconds, which the window must not wait for.
    tcp_ = Tcp::LookingUp;
    QByteArray name = QUrl::toAce(settings_.host);
    if (name.isEmpty()) name = settings_.host.toUtf8();
    // The answer is posted to a mailbox of its own that lives until then, as the link may be gone
    // by the time the name service answers; the link takes it only while still waiting for it.
    auto* mailbox = new QObject;
    std::thread([mailbox, link = QPointer<MeterLink>(this), attempt = attempt_, name, port = settings_.tcpPort] {
        Lookup found = Resolve(name, port, 0);
        QMetaObject::invokeMethod(
            mailbox,
            [mailbox, link, attempt, found = std::move(found)] {
                mailbox->deleteLater();
                if (link && link->attempt_ == attempt) link->OnLookedUp(found.addresses, found.why);
            },
            Qt::QueuedConnection);
    }).detach();
}

void MeterLink::OnLookedUp(QByteArrayList addresses, const QString& why)
{
    addresses_ = std::move(addresses);
    tcp_ = Tcp::Connecting;
    ConnectNext(why);
}

// A name may have several addresses (IPv6 and IPv4, say), not all of them answering: try each.
void MeterLink::ConnectNext(QString why)
{
    CloseSocket();
    while (!addresses_.isEmpty()) {
        const QByteArray address = addresses_.takeFirst();
        sockaddr_storage to{};
        std::memcpy(&to, address.constData(), static_cast<size_t>(address.size()));
        fd_ = ::socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            why = SystemError(errno);
            continue;
        }
        // Interrupted, the connect goes on by itself; either way writability tells how it ended.
        const int rc = ::connect(fd_, reinterpret_cast<const sockaddr*>(&to), static_cast<socklen_t>(address.size()));
        if (rc == 0 || errno == EINPROGRESS || errno == EINTR) {
            readable_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
            readable_->setEnabled(false);
            writable_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
            connect(readable_.get(), &QSocketNotifier::activated, this, &MeterLink::OnReadable);
            connect(writable_.get(), &QSocketNotifier::activated, this, &MeterLink::OnWritable);
            return;
        }
        why = SystemError(errno);
        CloseSocket();
    }
    OnLost(why);
}

void MeterLink::OnWritable()
{
    writable_->setEnabled(false);
    if (tcp_ == Tcp::Connecting) {
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) < 0) error = errno;
        if (error != 0) {
            ConnectNext(SystemError(error));
            return;
        }
        tcp_ = Tcp::Open;
        readable_->setEnabled(true);
    }
    Send();
}

void MeterLink::Send()
{
    if (!pending_ || command_.isEmpty()) return;
    if (settings_.connection != MeterSettings::Connection::Tcp) {
        if (serial_.write(command_) != command_.size()) {
            Finish({}, QStringLiteral("the question cannot be sent to the meter: %1").arg(serial_.errorString()));
            return;
        }
        command_.clear();
        return;
    }
    while (!command_.isEmpty()) {
        // MSG_NOSIGNAL: a meter that hung up must not end the program with SIGPIPE.
        const ssize_t sent = ::send(fd_, command_.constData(), static_cast<size_t>(command_.size()), MSG_NOSIGNAL);
        if (sent >= 0) {
            command_.remove(0, sent);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            writable_->setEnabled(true);  // the rest once there is room
            return;
        } else if (errno != EINTR) {
            const QString why = SystemError(errno);
            Close();
            Finish({}, QStringLiteral("the question cannot be sent to the meter: %1").arg(why));
            return;
        }
    }
}

void MeterLink::OnReadable()
{
    QByteArray bytes;
    if (settings_.connection == MeterSettings::Connection::Tcp) {
        // One read a time: the notifier comes again while more is waiting.
        char buffer[LongestAnswer];
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (got <= 0) {
            OnLost(got == 0 ? QStringLiteral("The remote host closed the connection") : SystemError(errno));
            return;
        }
        bytes = QByteArray(buffer, got);
        if (!pending_ && (unasked_ += got) > LongestAnswer) {
            Close();
            return;
        }
    } else {
        bytes = serial_.readAll();
    }
    if (!pending_) return;
    received_ += bytes;
    const char last = settings_.lineEnd.isEmpty() ? '\n' : settings_.lineEnd.back();
    const int end = received_.indexOf(last);
    if (end >= 0) {
        QByteArray line = received_.left(end);
        while (line.endsWith('\r') || line.endsWith('\n')) line.chop(1);
        Finish(line, QString());
    } else if (received_.size() > LongestAnswer) {
        // Left open, the flood would be read for the rest of the run.
        Close();
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
