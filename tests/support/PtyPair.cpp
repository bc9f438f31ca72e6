// A pseudo-terminal pair held by a test: the test plays the supply on the master side.
#include "PtyPair.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) return;
    slavePath_ = QString::fromLocal8Bit(name);
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) return;
    // No echo and no line editing before the link has set its own modes.
    termios tio{};
    if (tcgetattr(slave_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (slave_ >= 0) ::close(slave_);
}

bool PtyPair::write(const QByteArray& bytes)
{
    if (master_ < 0) return false;
    return ::write(master_, bytes.constData(), static_cast<std::size_t>(bytes.size())) == bytes.size();
}

QByteArray PtyPair::readAvailable()
{
    QByteArray all;
    if (master_ < 0) return all;
    char buf[256];
    for (;;) {
        const ssize_t got = ::read(master_, buf, sizeof buf);
        if (got <= 0) break;
        all.append(buf, static_cast<int>(got));
    }
    return all;
}

bool PtyPair::stopOutput(bool stopped)
{
    return slave_ >= 0 && tcflow(slave_, stopped ? TCOOFF : TCOON) == 0;
}

void PtyPair::closeMaster()
{
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}
