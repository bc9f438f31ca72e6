// Puts a pseudo-terminal where a serial port's device is, for this test process only: libserialport
// looks a port up under /sys/class/tty, which knows ttyS0 but no pty.
#include "SerialPortOverPty.h"

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {
QString Why(const char* what) { return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno))); }
}  // namespace

bool EnterPrivateMounts(QString* error)
{
    if (::geteuid() != 0) {
        *error = QStringLiteral("binding a pty over a serial device needs root");
        return false;
    }
    if (::unshare(CLONE_NEWNS) != 0) {
        *error = Why("unshare(CLONE_NEWNS)");
        return false;
    }
    // Without this the binds would travel back to the namespace the test came from.
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        *error = Why("making / private");
        return false;
    }
    return true;
}

bool BindPtyOver(const QString& pty, const QString& device, QString* error)
{
    const QByteArray target = device.toLocal8Bit();
    if (::access(target.constData(), F_OK) != 0) {
        *error = QStringLiteral("%1 does not exist to be bound over").arg(device);
        return false;
    }
    while (::umount2(target.constData(), MNT_DETACH) == 0) {
    }
    if (::mount(pty.toLocal8Bit().constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0) {
        *error = Why("mount --bind");
        return false;
    }
    return true;
}
