// Puts a pseudo-terminal where a serial port's device is, for this test process only: libserialport
// looks a port up under /sys/class/tty, which knows ttyS0 but no pty.
#pragma once

#include <QString>

// Once per process: a mount namespace of its own, so that the binds below are seen by no one
// else. Needs root; false with the reason otherwise.
bool EnterPrivateMounts(QString* error);
// Binds `pty` over `device` (/dev/ttyS0), replacing an earlier bind.
bool BindPtyOver(const QString& pty, const QString& device, QString* error);
