// The single-instance rule: the first start owns a per-user name, later starts ask it to come forward.
//
// Plain sockets rather than Qt's local sockets: Qt Network would bring its whole library and its
// Kerberos and proxy libraries into every start of the calibrator, for one 16-byte message. The
// address is the one QLocalSocket uses for an abstract name, so either end may be a Qt socket.
//
// An abstract name carries no permissions: any local user may bind this user's name first, to
// hear its restore messages or to silence its starts. So each end checks the other's user, and a
// start passes by the names other users hold and owns the first free one of a short row.
#include "SingleInstance.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <QHash>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>

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

// Who holds a name, as far as a start can tell; Unsure covers an owner of this user that does not
// answer yet (a racing start between its bind and its listen, or one with a full backlog).
enum class Holder { Nobody, Own, Stranger, Unsure };

// Connects to `name` and, when its owner is this user, sends `message` unless that is empty.
// A timeout of 0 connects without waiting for an owner whose backlog is full.
Holder Reach(const QString& name, const QByteArray& message, int timeoutMs) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (timeoutMs == 0 ? SOCK_NONBLOCK : 0), 0);
    if (fd < 0) return Holder::Unsure;
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
    Holder holder = Holder::Unsure;
    if (connected != 0) {
        if (errno == ECONNREFUSED) holder = Holder::Nobody;
    } else if (!PeerIsSameUser(fd)) {
        holder = Holder::Stranger;
    } else {
        ssize_t sent = 0;
        if (!message.isEmpty()) {
            do {
                sent =
                    ::send(fd, message.constData(), static_cast<std::size_t>(message.size()), MSG_NOSIGNAL);
            } while (sent < 0 && errno == EINTR);
        }
        // Posted, not sent: the sender does not wait for the owner to act on it.
        if (sent == message.size()) holder = Holder::Own;
    }
    ::close(fd);
    return holder;
}

// The users of the abstract names starting with `prefix` that some socket is bound to, as the
// kernel's socket table lists them; nothing when the table cannot be read. A name nobody can
// connect to (bound but not listening, or with a full backlog) is only told apart this way.
std::optional<QHash<QByteArray, uid_t>> BoundNames(const QByteArray& prefix) {
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0) return std::nullopt;
    struct {
        nlmsghdr header;
        unix_diag_req request;
    } query{};
    query.header.nlmsg_len = sizeof query;
    query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    query.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    query.request.sdiag_family = AF_UNIX;
    query.request.udiag_states = ~0u;
    query.request.udiag_show = UDIAG_SHOW_NAME | UDIAG_SHOW_UID;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &query, sizeof query, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) !=
        static_cast<ssize_t>(sizeof query)) {
        ::close(fd);
        return std::nullopt;
    }
    const QByteArray wanted = QByteArray(1, '\0') + prefix;
    QHash<QByteArray, uid_t> names;
    alignas(nlmsghdr) char buffer[32768];
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        auto left = static_cast<unsigned>(got);
        for (auto* header = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(header, left);
             header = NLMSG_NEXT(header, left)) {
            if (header->nlmsg_type == NLMSG_ERROR || header->nlmsg_type == NLMSG_DONE) {
                ::close(fd);
                if (header->nlmsg_type == NLMSG_ERROR) return std::nullopt;
                return names;
            }
            const auto* socket = static_cast<const unix_diag_msg*>(NLMSG_DATA(header));
            auto attributesLeft = static_cast<unsigned>(header->nlmsg_len - NLMSG_LENGTH(sizeof *socket));
            QByteArray name;
            std::optional<uid_t> uid;
            for (auto* attribute = reinterpret_cast<const rtattr*>(socket + 1);
                 RTA_OK(attribute, attributesLeft); attribute = RTA_NEXT(attribute, attributesLeft)) {
                if (attribute->rta_type == UNIX_DIAG_NAME)
                    name = QByteArray(static_cast<const char*>(RTA_DATA(attribute)),
                                      static_cast<qsizetype>(RTA_PAYLOAD(attribute)));
                else if (attribute->rta_type == UNIX_DIAG_UID && RTA_PAYLOAD(attribute) >= sizeof(uid_t))
                    uid = *static_cast<const uid_t*>(RTA_DATA(attribute));
            }
            if (uid && name.startsWith(wanted)) names.insert(name.mid(1), *uid);
        }
    }
    ::close(fd);
    return std::nullopt;
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

SingleInstance::SingleInstance(QString base, QObject* parent)
    : QObject(parent), base_(std::move(base)), name_(base_) {}

SingleInstance::~SingleInstance() {
    // The open connections are children and close their own sockets.
    stopListening();
}

QString SingleInstance::InstanceName() {
    const QByteArray cls = MainWindowClass();
    const QByteArray text = cls.left(cls.indexOf('\0'));
    return QStringLiteral("korvex-%1-%2").arg(QString::fromLatin1(text.toHex())).arg(geteuid());
}

QString SingleInstance::NameAt(const QString& base, int index) {
    return index == 0 ? base : QStringLiteral("%1-%2").arg(base).arg(index);
}

bool SingleInstance::isListening() const { return fd_ >= 0; }

bool SingleInstance::listen(const QString& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address;
    const socklen_t length = AbstractAddress(name, address);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(fd, ListenBacklog) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    name_ = name;
    listener_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(listener_, &QSocketNotifier::activated, this, &SingleInstance::onNewConnection);
    return true;
}

void SingleInstance::stopListening() {
    delete listener_;
    listener_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool SingleInstance::ownerBesides(int index) const {
    for (int i = 0; i < NameCount; ++i)
        if (i != index && Reach(NameAt(base_, i), {}, 0) == Holder::Own) return true;
    return false;
}

SingleInstance::Role SingleInstance::Claim() {
    if (isListening()) return Role::Primary;
    const QByteArray restore = EncodeMessage(WM_RESTORE_INSTANCE, 0, 0);
    for (int attempt = 0; attempt < ClaimAttempts; ++attempt) {
        const std::optional<QHash<QByteArray, uid_t>> table = BoundNames(base_.toUtf8());
        int firstFree = -1;
        bool unsure = false;
        for (int i = 0; i < NameCount; ++i) {
            const QString name = NameAt(base_, i);
            Holder holder = Reach(name, restore, 0);
            if (holder == Holder::Own) {
                name_ = name;
                return Role::Secondary;
            }
            if ((holder == Holder::Nobody || holder == Holder::Unsure) && table) {
                const auto bound = table->constFind(name.toUtf8());
                if (bound == table->cend())
                    holder = Holder::Nobody;
                else
                    holder = *bound == geteuid() ? Holder::Unsure : Holder::Stranger;
            }
            if (holder == Holder::Nobody && firstFree < 0) firstFree = i;
            unsure = unsure || holder == Holder::Unsure;
        }
        // An owner of this user that does not answer yet may be any of the names: none is taken
        // then. A live owner's name is never removed and taken over: that would leave two owners.
        if (!unsure && firstFree >= 0 && listen(NameAt(base_, firstFree))) {
            // A racing start may have taken a later name while another user let go of this one:
            // both owners step back and try again, and the first free name settles it.
            if (!ownerBesides(firstFree)) return Role::Primary;
            stopListening();
        }
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
    return Reach(name, EncodeMessage(message, wParam, lParam), timeoutMs) == Holder::Own;
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
