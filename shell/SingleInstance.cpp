// The single-instance rule: the first start owns a per-user name, later starts ask it to come forward.
#include "SingleInstance.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <QVariant>
#include <QtEndian>
#include <array>

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

bool PeerIsSameUser(QLocalSocket* socket) {
    const qintptr fd = socket->socketDescriptor();
    if (fd < 0) return false;
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
    return len == sizeof cred && cred.uid == geteuid();
}

}  // namespace

QByteArray MainWindowClass() {
    QByteArray name(ClassNameSize, '\0');
    std::copy(ClassNameGbk.begin(), ClassNameGbk.end(), name.begin());
    return name;
}

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), name_(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::InstanceName() {
    const QByteArray cls = MainWindowClass();
    const QByteArray text = cls.left(cls.indexOf('\0'));
    return QStringLiteral("korvex-%1-%2").arg(QString::fromLatin1(text.toHex())).arg(geteuid());
}

bool SingleInstance::isListening() const { return server_ && server_->isListening(); }

SingleInstance::Role SingleInstance::Claim() {
    if (isListening()) return Role::Primary;
    for (int attempt = 0; attempt < ClaimAttempts; ++attempt) {
        // A live owner's name is never removed and taken over: that would leave two owners.
        auto* server = new QLocalServer(this);
        server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
        if (server->listen(name_)) {
            server_ = server;
            connect(server_, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
            return Role::Primary;
        }
        delete server;
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
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs)) return false;
    const QByteArray bytes = EncodeMessage(message, wParam, lParam);
    if (socket.write(bytes) != bytes.size()) return false;
    // Posted, not sent: the sender does not wait for the owner to act on it.
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(timeoutMs)) return false;
    }
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::onNewConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        // An abstract name carries no file permissions: only the owner's own user may talk to it.
        if (!PeerIsSameUser(socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        deadline->start(ConnectionDeadlineMs);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { consume(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            consume(socket);
            socket->deleteLater();
        });
        consume(socket);
    }
}

void SingleInstance::consume(QLocalSocket* socket) {
    if (socket->property("korvexDone").toBool()) {
        socket->readAll();
        return;
    }
    if (socket->bytesAvailable() < MessageSize) return;
    const QByteArray bytes = socket->read(MessageSize);
    socket->setProperty("korvexDone", true);
    socket->readAll();
    socket->disconnectFromServer();

    if (!std::equal(std::begin(MessageTag), std::end(MessageTag), bytes.begin())) return;
    const quint32 message = qFromLittleEndian<quint32>(bytes.constData() + 4);
    const quint32 wParam = qFromLittleEndian<quint32>(bytes.constData() + 8);
    const quint32 lParam = qFromLittleEndian<quint32>(bytes.constData() + 12);
    if (message == WM_RESTORE_INSTANCE && wParam == 0 && lParam == 0) emit restoreRequested();
}
