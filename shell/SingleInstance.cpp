// The single-instance rule: the first start owns a per-user name, later starts ask it to come forward.
//
// Plain sockets rather than Qt's local sockets: Qt Network would bring its whole library and its
// Kerberos and proxy libraries into every start of the calibrator, for one 16-byte message. The
// address is the one QLocalSocket uses for an abstract name, so either end may be a Qt socket.
#include "SingleInstance.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

// "电源电压标定及性能测试" in GBK.
constexpr std::array<unsigned char, 22> ClassNameGbk = {
    0xb5, 0xe7, 0xd4, 0xb4, 0xb5, 0xe7, 0xd1, 0xb9, 0xb1, 0xea, 0xb6,
    0xa8, 0xbc, 0xb0, 0xd0, 0xd4, 0xc4, 0xdc, 0xb2, 0xe2, 0xca, 0xd4,
};
constexpr int ClassNameSize = 64;

constexpr char MessageTag[4] = {'K', 'V', 'X', '1'};

// A connection that has not delivered a whole message by then is dropped.
constexpr int ConnectionDeadlineMs = 2000;

// Between a racing start's bind and listen, or while a killed owner's socket is being torn down,
// neither listening nor connecting works; a few short retries ride that out.
constexpr int ClaimAttempts = 12;
constexpr int ClaimPauseMs = 25;
constexpr int ConnectTimeoutMs = 1000;
constexpr int ListenBacklog = 32;

// The abstract address: a leading zero byte, then the name's bytes, its length exact.
socklen_t AbstractAddress(const QString& name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const QByteArray bytes = name.toUtf8();
    const auto length = std::min<std::size_t>(static_cast<std::size_t>(bytes.size()), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, bytes.constData(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

bool PeerIsSameUser(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
    return len == sizeof cred && cred.uid == geteuid();
}

}  // namespace

// One accepted connection: read until a whole message is there, the peer hangs up, or the deadline.
class SingleInstance::Connection : public QObject {
public:
    Connection(int fd, SingleInstance* owner) : QObject(owner), fd_(fd), notifier_(fd, QSocketNotifier::Read)
    {
        connect(&notifier_, &QSocketNotifier::activated, this, [this] { readSome(); });
        deadline_.setSingleShot(true);
        connect(&deadline_, &QTimer::timeout, this, [this] { finish(); });
        deadline_.start(ConnectionDeadlineMs);
    }
    ~Connection() override { ::close(fd_); }

private:
    void readSome()
    {
        char buffer[256];
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                // Only the first message counts; what follows it is dropped with the connection.
                bytes_.append(buffer, static_cast<qsizetype>(std::min<ssize_t>(n, MessageSize - bytes_.size())));
                if (bytes_.size() == MessageSize) return deliver();
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            return finish();  // hung up or failed before a whole message
        }
    }

    void deliver()
    {
        const QByteArray bytes = bytes_;
        finish();
        if (!std::equal(std::begin(MessageTag), std::end(MessageTag), bytes.begin())) return;
        const quint32 message = qFromLittleEndian<quint32>(bytes.constData() + 4);
        const quint32 wParam = qFromLittleEndian<quint32>(bytes.constData() + 8);
        const quint32 lParam = qFromLittleEndian<quint32>(bytes.constData() + 12);
        if (message == WM_RESTORE_INSTANCE && wParam == 0 && lParam == 0) emit static_cast<SingleInstance*>(parent())->restoreRequested();
    }

    void finish()
    {
        notifier_.setEnabled(false);
        deadline_.stop();
        deleteLater();
    }

    int fd_;
    QSocketNotifier notifier_;
    QTimer deadline_;
    QByteArray bytes_;
};

QByteArray MainWindowClass() {
    QByteArray name(ClassNameSize, '\0');
    std::copy(ClassNameGbk.begin(), ClassNameGbk.end(), name.begin());
    return name;
}

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), name_(std::move(name)) {}

SingleInstance::~SingleInstance() {
    // The open connections are children and close their own sockets.
    delete listener_;
    if (fd_ >= 0) ::close(fd_);
}

QString SingleInstance::InstanceName() {
    const QByteArray cls = MainWindowClass();
    const QByteArray text = cls.left(cls.indexOf('\0'));
    return QStringLiteral("korvex-%1-%2").arg(QString::fromLatin1(text.toHex())).arg(geteuid());
}

bool SingleInstance::isListening() const { return fd_ >= 0; }

bool SingleInstance::listen() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address;
    const socklen_t length = AbstractAddress(name_, address);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(fd, ListenBacklog) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    listener_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(listener_, &QSocketNotifier::activated, this, &SingleInstance::onNewConnection);
    return true;
}

SingleInstance::Role SingleInstance::Claim() {
    if (isListening()) return Role::Primary;
    for (int attempt = 0; attempt < ClaimAttempts; ++attempt) {
        // A live owner's name is never removed and taken over: that would leave two owners.
        if (listen()) return Role::Primary;
        if (PostInstanceMessage(name_, WM_RESTORE_INSTANCE, 0, 0, ConnectTimeoutMs)) return Role::Secondary;
        QThread::msleep(static_cast<unsigned long>(ClaimPauseMs * (attempt + 1)));
    }
    return Role::Failed;
}

QByteArray SingleInstance::EncodeMessage(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) {
    QByteArray bytes(MessageSize, '\0');
    std::copy(std::begin(MessageTag), std::end(MessageTag), bytes.begin());
    qToLittleEndian<quint32>(message, bytes.data() + 4);
    qToLittleEndian<quint32>(wParam, bytes.data() + 8);
    qToLittleEndian<quint32>(lParam, bytes.data() + 12);
    return bytes;
}

bool SingleInstance::PostInstanceMessage(const QString& name, std::uint32_t message, std::uint32_t wParam,
                                         std::uint32_t lParam, int timeoutMs) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // An owner whose backlog is full keeps the connect waiting, and a blocking socket waits no
    // longer than its send timeout, for the connect as for the send.
    const timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_un address;
    const socklen_t length = AbstractAddress(name, address);
    int connected;
    do {
        connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length);
    } while (connected != 0 && errno == EINTR);
    const QByteArray bytes = EncodeMessage(message, wParam, lParam);
    ssize_t sent = -1;
    if (connected == 0) {
        do {
            sent = ::send(fd, bytes.constData(), static_cast<std::size_t>(bytes.size()), MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
    }
    // Posted, not sent: the sender does not wait for the owner to act on it.
    ::close(fd);
    return sent == bytes.size();
}

void SingleInstance::onNewConnection() {
    for (;;) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;
        }
        // An abstract name carries no file permissions: only the owner's own user may talk to it.
        if (!PeerIsSameUser(fd)) {
            ::close(fd);
            continue;
        }
        new Connection(fd, this);
    }
}
