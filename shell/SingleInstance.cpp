// The single-instance rule: the first start owns a socket in a folder only its user can write,
// later starts ask it to come forward.
//
// Plain sockets rather than Qt's local sockets: Qt Network would bring its whole library and its
// Kerberos and proxy libraries into every start of the calibrator, for one 16-byte message.
//
// A name in the abstract socket space carries no permissions: any local user may take every name
// of a row first and so keep this user's calibrator from starting. A socket in a folder that only
// this user can write cannot be taken from him; a lock beside it tells a live owner from the socket
// a killed one left behind, and settles a race of many starts.
#include "SingleInstance.h"

#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QSysInfo>
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

// Between a racing start's lock and its listen, nobody can connect yet; a few short retries ride
// that out.
constexpr int ClaimAttempts = 12;
constexpr int ClaimPauseMs = 25;
constexpr int ListenBacklog = 32;

const char* const SocketName = "instance";
const char* const LockName = "instance.lock";

// A socket's address: the path and its ending zero. False when the path does not fit.
bool SocketAddress(const QString& path, sockaddr_un& address, socklen_t& length) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.isEmpty() || static_cast<std::size_t>(bytes.size()) >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + static_cast<std::size_t>(bytes.size()) + 1);
    return true;
}

bool PeerIsSameUser(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
    return len == sizeof cred && cred.uid == geteuid();
}

QString SystemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString Mode(mode_t mode) { return QStringLiteral("0%1").arg(mode & 07777, 0, 8); }

// Why the folder a place is made in cannot hold it, or nothing when it can.
QString ParentProblem(const SingleInstance::Place& place) {
    if (!QDir::isAbsolutePath(place.parent)) return QStringLiteral("it is not an absolute path");
    struct stat st {};
    if (::stat(QFile::encodeName(place.parent).constData(), &st) != 0) return SystemError(errno);
    if (!S_ISDIR(st.st_mode)) return QStringLiteral("it is not a folder");
    const bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (place.kind == SingleInstance::Place::Parent::Sticky) {
        // Anyone may write in /tmp, but only a name's owner may remove or rename it there.
        if (st.st_uid != geteuid() && st.st_uid != 0) return QStringLiteral("it belongs to user %1").arg(st.st_uid);
        if (othersWrite && (st.st_mode & S_ISVTX) == 0)
            return QStringLiteral("other users may replace what is in it (mode %1)").arg(Mode(st.st_mode));
        return {};
    }
    if (st.st_uid != geteuid()) return QStringLiteral("it belongs to user %1").arg(st.st_uid);
    if (othersWrite) return QStringLiteral("other users may write in it (mode %1)").arg(Mode(st.st_mode));
    return {};
}

QString Unused(const QString& path, const QString& why) {
    return QStringLiteral("%1 is not used for the instance socket: %2").arg(path, why);
}

// The place's folder, made when missing and `make` is set: this user's own, a real folder and
// closed to everybody else. Empty, with `why` said, when it is not; empty alone when it is missing.
QString Prepare(const SingleInstance::Place& place, bool make, QString* why) {
    if (const QString problem = ParentProblem(place); !problem.isEmpty()) {
        *why = Unused(place.parent, problem);
        return {};
    }
    const QString folder = QDir(place.parent).filePath(place.name);
    const QByteArray path = QFile::encodeName(folder);
    if (!make && ::access(path.constData(), F_OK) != 0 && errno == ENOENT) return {};
    if (make && ::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        *why = Unused(folder, SystemError(errno));
        return {};
    }
    // lstat: a symbolic link planted under the name would lead into somebody else's folder.
    struct stat st {};
    QString problem;
    if (::lstat(path.constData(), &st) != 0)
        problem = SystemError(errno);
    else if (S_ISLNK(st.st_mode))
        problem = QStringLiteral("it is a symbolic link");
    else if (!S_ISDIR(st.st_mode))
        problem = QStringLiteral("it is not a folder");
    else if (st.st_uid != geteuid())
        problem = QStringLiteral("it belongs to user %1").arg(st.st_uid);
    else if ((st.st_mode & 077) != 0)
        problem = QStringLiteral("other users may use it (mode %1)").arg(Mode(st.st_mode));
    else if (QFile::encodeName(QDir(folder).filePath(QLatin1String(SocketName))).size() >=
             static_cast<qsizetype>(sizeof(sockaddr_un::sun_path)))
        problem = QStringLiteral("its path is too long for a socket");
    if (!problem.isEmpty()) {
        *why = Unused(folder, problem);
        return {};
    }
    return folder;
}

// Who holds a place, as far as a start can tell; Unsure covers an owner that does not answer yet
// (a racing start between its lock and its listen, or one with a full backlog).
enum class Holder { Nobody, Own, Stranger, Unsure };

// Connects to `path` and, when its owner is this user, sends `message` unless that is empty.
// A timeout of 0 connects without waiting for an owner whose backlog is full.
Holder Reach(const QString& path, const QByteArray& message, int timeoutMs) {
    sockaddr_un address;
    socklen_t length = 0;
    if (!SocketAddress(path, address, length)) return Holder::Nobody;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (timeoutMs == 0 ? SOCK_NONBLOCK : 0), 0);
    if (fd < 0) return Holder::Unsure;
    // An owner whose backlog is full keeps the connect waiting, and a blocking socket waits no
    // longer than its send timeout, for the connect as for the send.
    const timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    int connected;
    do {
        connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length);
    } while (connected != 0 && errno == EINTR);
    Holder holder = Holder::Unsure;
    if (connected != 0) {
        if (errno == ECONNREFUSED || errno == ENOENT) holder = Holder::Nobody;
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

enum class Lock { Taken, Held, Broken };

// Takes the place's lock when nobody holds it, leaving its descriptor in `fd`.
Lock TakeLock(const QString& folder, int* fd, QString* why) {
    const QString path = QDir(folder).filePath(QLatin1String(LockName));
    *fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (*fd < 0) {
        *why = Unused(path, SystemError(errno));
        return Lock::Broken;
    }
    int rc;
    do {
        rc = ::flock(*fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return Lock::Taken;
    const int error = errno;
    ::close(*fd);
    *fd = -1;
    if (error == EWOULDBLOCK) return Lock::Held;
    *why = Unused(path, SystemError(error));
    return Lock::Broken;
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

SingleInstance::SingleInstance(QList<Place> places, QObject* parent)
    : QObject(parent), places_(std::move(places)) {}

SingleInstance::~SingleInstance() {
    // The open connections are children and close their own sockets.
    stopListening();
}

QList<SingleInstance::Place> SingleInstance::Places() {
    const uid_t uid = geteuid();
    const Place runtime{qEnvironmentVariable("XDG_RUNTIME_DIR"), QStringLiteral("korvex-calibrator"), Place::Parent::Own};
    if (!runtime.parent.isEmpty() && ParentProblem(runtime).isEmpty()) return {runtime};
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty())
        if (const passwd* user = ::getpwuid(uid)) home = QFile::decodeName(user->pw_dir);
    QList<Place> places;
    // A runtime folder unfit to use is listed, so that the claim says why it passed it by.
    if (!runtime.parent.isEmpty()) places << runtime;
    places << Place{QDir::tempPath(), QStringLiteral("korvex-calibrator-%1").arg(uid), Place::Parent::Sticky};
    // A home folder may be shared by several machines: each machine's instance has its own.
    places << Place{home, QStringLiteral(".korvex-calibrator-%1").arg(QSysInfo::machineHostName()), Place::Parent::Own};
    return places;
}

QString SingleInstance::SocketPath(const Place& place) {
    return QDir(QDir(place.parent).filePath(place.name)).filePath(QLatin1String(SocketName));
}

bool SingleInstance::isListening() const { return fd_ >= 0; }

bool SingleInstance::listen(const QString& path, int lockFd) {
    sockaddr_un address;
    socklen_t length = 0;
    if (!SocketAddress(path, address, length)) return false;
    // With the lock ours, a socket left there is a killed owner's.
    ::unlink(address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        ::listen(fd, ListenBacklog) != 0) {
        const int error = errno;
        problems_ << QStringLiteral("the instance socket %1 cannot be made: %2").arg(path, SystemError(error));
        if (fd >= 0) ::close(fd);
        return false;
    }
    fd_ = fd;
    lockFd_ = lockFd;
    socketPath_ = path;
    listener_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(listener_, &QSocketNotifier::activated, this, &SingleInstance::onNewConnection);
    return true;
}

void SingleInstance::stopListening() {
    delete listener_;
    listener_ = nullptr;
    if (fd_ >= 0) {
        // Removed while the lock is still held, so that it is never a later owner's socket.
        ::unlink(QFile::encodeName(socketPath_).constData());
        ::close(fd_);
    }
    fd_ = -1;
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
}

SingleInstance::Role SingleInstance::Claim() {
    if (isListening()) return Role::Primary;
    problems_.clear();
    // The first place fit to use is made and owned; a later one is only looked into, and only
    // when it is there already.
    QStringList folders;
    for (const Place& place : std::as_const(places_)) {
        QString why;
        const QString folder = Prepare(place, folders.isEmpty(), &why);
        if (!folder.isEmpty())
            folders << folder;
        else if (folders.isEmpty())
            problems_ << why;
    }
    const QByteArray restore = EncodeMessage(WM_RESTORE_INSTANCE, 0, 0);
    for (int attempt = 0; attempt < ClaimAttempts && !folders.isEmpty(); ++attempt) {
        // An owner in a later place (made while an earlier one was another user's) is asked
        // first: one instance, wherever it lives.
        int mine = -1;
        bool waiting = false;
        for (qsizetype i = 0; i < folders.size(); ++i) {
            int fd = -1;
            QString why;
            const QString socket = QDir(folders[i]).filePath(QLatin1String(SocketName));
            switch (TakeLock(folders[i], &fd, &why)) {
                case Lock::Taken:
                    if (i == 0)
                        mine = fd;
                    else
                        ::close(fd);
                    break;
                case Lock::Held:
                    if (Reach(socket, restore, 0) == Holder::Own) {
                        if (mine >= 0) ::close(mine);
                        socketPath_ = socket;
                        return Role::Secondary;
                    }
                    waiting = true;
                    break;
                case Lock::Broken:
                    problems_ << why;
                    folders.removeAt(i--);
                    break;
            }
        }
        if (mine >= 0) {
            if (!waiting && listen(QDir(folders.first()).filePath(QLatin1String(SocketName)), mine))
                return Role::Primary;
            ::close(mine);
            if (!waiting) return Role::Failed;
        }
        if (!folders.isEmpty()) QThread::msleep(static_cast<unsigned long>(ClaimPauseMs * (attempt + 1)));
    }
    problems_ << (folders.isEmpty() ? QStringLiteral("no folder is fit for the instance socket")
                                    : QStringLiteral("another start holds the instance name but cannot be reached"));
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

bool SingleInstance::PostInstanceMessage(const QString& socketPath, std::uint32_t message, std::uint32_t wParam,
                                         std::uint32_t lParam, int timeoutMs) {
    return Reach(socketPath, EncodeMessage(message, wParam, lParam), timeoutMs) == Holder::Own;
}

void SingleInstance::onNewConnection() {
    for (;;) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;
        }
        // The folder keeps other users out already; should its modes have been loosened since,
        // only the owner's own user may still talk to it.
        if (!PeerIsSameUser(fd)) {
            ::close(fd);
            continue;
        }
        new Connection(fd, this);
    }
}
