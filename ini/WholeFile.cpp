// Files that appear whole or not at all, and settings files read without ever hanging.
#include "WholeFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

QString SystemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

QString KindOf(mode_t mode)
{
    if (S_ISLNK(mode)) return QStringLiteral("a symbolic link");
    if (S_ISDIR(mode)) return QStringLiteral("a folder");
    if (S_ISFIFO(mode)) return QStringLiteral("a FIFO");
    if (S_ISSOCK(mode)) return QStringLiteral("a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("a device");
    return QStringLiteral("not a regular file");
}

bool WriteAll(int fd, const char* data, qsizetype size, off_t at)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, static_cast<size_t>(size), at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= n;
        at += n;
    }
    return true;
}

// A small file rewritten where it is, for a folder that lets only its owner replace it. Its room
// is claimed first, so that a full disk leaves the old bytes untouched; the new ones go in with
// one write, which a reader never sees half done.
bool RewriteInPlace(const QString& path, const QByteArray& bytes, QString* error)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = SystemError(errno);
        return false;
    }
    struct stat st {};
    int code = 0;
    if (::fstat(fd, &st) != 0) code = errno;
    else if (!S_ISREG(st.st_mode)) code = EINVAL;
    else if (const int claimed = ::posix_fallocate(fd, 0, std::max<off_t>(1, bytes.size())); claimed != 0) code = claimed;
    else if (!WriteAll(fd, bytes.constData(), bytes.size(), 0)) code = errno ? errno : EIO;
    else if (::ftruncate(fd, bytes.size()) != 0 || ::fsync(fd) != 0) code = errno;
    if (::close(fd) != 0 && code == 0) code = errno;
    if (code != 0) *error = SystemError(code);
    return code == 0;
}

}  // namespace

WholeFile::WholeFile(QString path) : path_(std::move(path)) {}

WholeFile::~WholeFile() { cancel(); }

bool WholeFile::fail(const QString& why)
{
    error_ = why;
    cancel();
    return false;
}

bool WholeFile::open()
{
    error_.clear();
    renameRefused_ = false;
    target_ = path_;
    struct stat old {};
    bool exists = ::lstat(QFile::encodeName(target_).constData(), &old) == 0;
    // A link in a folder only this user may write is the user's own doing, and the file it points
    // at is meant; in a folder others may write it may be theirs.
    if (exists && S_ISLNK(old.st_mode) && !IsSharedFolder(QFileInfo(path_).absolutePath())) {
        if (const QString real = QFileInfo(path_).canonicalFilePath(); !real.isEmpty()) {
            target_ = real;
            exists = ::lstat(QFile::encodeName(target_).constData(), &old) == 0;
        }
    }
    if (exists && !S_ISREG(old.st_mode))
        return fail(QStringLiteral("%1 is %2; it is not written through").arg(path_, KindOf(old.st_mode)));

    const QFileInfo info(target_);
    for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
        temp_ = info.absoluteDir().filePath(QStringLiteral(".%1.%2").arg(info.fileName()).arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        // The process's umask shapes the new file, as it would any file the program makes.
        fd_ = ::open(QFile::encodeName(temp_).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        const int code = errno;
        temp_.clear();
        return fail(SystemError(code));
    }
    // A file of the user's own keeps the rights it had (an export kept private stays private).
    if (exists && old.st_uid == ::geteuid()) ::fchmod(fd_, (old.st_mode & 07777) | (groupWrites_ ? S_IRGRP | S_IWGRP : 0));
    if (!file_.open(fd_, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) return fail(file_.errorString());
    return true;
}

bool WholeFile::commit()
{
    if (fd_ < 0) return false;
    // QSaveFile would rename a file whose last buffered bytes never reached the disk.
    if (file_.error() != QFileDevice::NoError || !file_.flush()) return fail(file_.errorString());
    file_.close();
    if (::fsync(fd_) != 0) return fail(SystemError(errno));
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) return fail(SystemError(errno));
    // rename() replaces a link placed at the path meanwhile instead of following it.
    if (::rename(QFile::encodeName(temp_).constData(), QFile::encodeName(target_).constData()) != 0) {
        const int code = errno;
        renameRefused_ = code == EPERM || code == EACCES;
        return fail(SystemError(code));
    }
    temp_.clear();
    return true;
}

void WholeFile::cancel()
{
    if (file_.isOpen()) file_.close();
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    if (!temp_.isEmpty()) ::unlink(QFile::encodeName(std::exchange(temp_, QString())).constData());
}

bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString* error, bool sharedInPlace)
{
    WholeFile file(path);
    // A file an earlier program made for its user alone, the other operators could not write.
    file.setGroupWrites(sharedInPlace && IsSharedFolder(QFileInfo(path).absolutePath()));
    if (file.open() && file.device()->write(bytes) == bytes.size() && file.commit()) return true;
    constexpr qsizetype InPlaceLimit = 64 * 1024;
    if (sharedInPlace && file.renameRefused() && bytes.size() <= InPlaceLimit) {
        QString why;
        if (RewriteInPlace(path, bytes, &why)) return true;
        if (error) *error = why;
        return false;
    }
    if (error) *error = file.errorString().isEmpty() ? file.device()->errorString() : file.errorString();
    return false;
}

FileState ReadWholeFile(const QString& path, QByteArray* bytes, QString* why)
{
    bytes->clear();
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // In a folder others may write, a link may be theirs: it could make this user's program
        // read (and later replace) a file of this user's own.
        if (IsSharedFolder(QFileInfo(path).absolutePath())) {
            if (why) *why = QStringLiteral("%1 is a symbolic link in a folder other users may write; it is not followed").arg(path);
            return FileState::Unreadable;
        }
    }
    if (::stat(native.constData(), &st) != 0) {
        if (errno == ENOENT) return FileState::Missing;
        if (why) *why = QStringLiteral("%1 cannot be read: %2").arg(path, SystemError(errno));
        return FileState::Unreadable;
    }
    if (!S_ISREG(st.st_mode)) {
        if (why) *why = QStringLiteral("%1 is %2, not a file").arg(path, KindOf(st.st_mode));
        return FileState::Unreadable;
    }
    // Not blocking: what was a file a moment ago may be a FIFO by now.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat opened {};
    if (fd < 0 || ::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        const int code = fd < 0 ? errno : EINVAL;
        if (fd >= 0) ::close(fd);
        if (why) *why = QStringLiteral("%1 cannot be read: %2").arg(path, SystemError(code));
        return FileState::Unreadable;
    }
    QFile file;
    bool ok = file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (ok) *bytes = file.readAll();
    ok = ok && file.error() == QFileDevice::NoError;
    if (!ok && why) *why = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
    if (!file.isOpen()) ::close(fd);
    return ok ? FileState::Regular : FileState::Unreadable;
}

bool IsSharedFolder(const QString& dir)
{
    struct stat st {};
    return ::stat(QFile::encodeName(dir).constData(), &st) == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}
