// Preloaded into tests that open a pseudo-terminal as a serial port: answers the modem-line
// requests a pty refuses, so that libserialport (as libsigrok uses it) takes the pty for a port.
#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// UNIX98 pseudo-terminal slaves have majors 136 to 143.
bool IsPtySlave(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

// What the lines of a connected meter show: ready and carrier present.
int Lines = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    using Real = int (*)(int, unsigned long, void*);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "ioctl"));
    const bool modem = request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
    if (!modem || !IsPtySlave(fd)) return real(fd, request, argument);
    int* bits = static_cast<int*>(argument);
    switch (request) {
        case TIOCMGET: *bits = Lines; break;
        case TIOCMSET: Lines = *bits; break;
        case TIOCMBIS: Lines |= *bits; break;
        case TIOCMBIC: Lines &= ~*bits; break;
    }
    return 0;
}
